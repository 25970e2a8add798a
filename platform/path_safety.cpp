// Finding a path as the box will find it, and whether someone other than root could change
// what the daemon runs or reads there. Shared by the daemon's start-up and vigilerctl check.
#include "platform/path_safety.h"

#include <unistd.h>

#include <cerrno>
#include <deque>

namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows before ELOOP

void PushComponents(std::deque<std::string>& queue, const std::string& path) {
    std::deque<std::string> parts;
    size_t at = 0;
    while (at <= path.size()) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        if (slash > at) {
            parts.push_back(path.substr(at, slash - at));
        }
        at = slash + 1;
    }
    queue.insert(queue.begin(), parts.begin(), parts.end());
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& part : parts) {
        path += "/" + part;
    }
    return path.empty() ? "/" : path;
}

void Judge(PathWalk& walk, const std::string& boxPath, const struct stat& info, bool checkOwner) {
    std::string why = UnsafeBecause(info, checkOwner);
    if (why.empty()) {
        return;
    }
    for (const auto& known : walk.unsafe) {
        if (known.first == boxPath) {
            return;
        }
    }
    walk.unsafe.emplace_back(boxPath, why);
}

}  // namespace

std::string UnsafeBecause(const struct stat& info, bool checkOwner) {
    if ((info.st_mode & S_IWOTH) != 0) {
        return "writable by others";
    }
    if ((info.st_mode & S_IWGRP) != 0) {
        return "writable by its group";
    }
    if (checkOwner && info.st_uid != 0) {
        return "owned by uid " + std::to_string(info.st_uid);
    }
    return "";
}

PathWalk WalkPath(const std::string& root, const std::string& path, bool checkOwner) {
    PathWalk walk;
    std::string top = root;
    while (!top.empty() && top.back() == '/') {
        top.pop_back();
    }
    if (stat(top.empty() ? "/" : top.c_str(), &walk.info) != 0) {
        walk.error = errno;
        return walk;
    }
    Judge(walk, "/", walk.info, checkOwner);
    std::deque<std::string> queue;
    PushComponents(queue, path);
    std::vector<std::string> resolved;  // box path components, no link among them
    int links = 0;
    while (!queue.empty()) {
        std::string part = std::move(queue.front());
        queue.pop_front();
        if (part == ".") {
            continue;
        }
        if (part == "..") {
            if (resolved.empty()) {
                walk.leftTree = true;
            } else {
                resolved.pop_back();
            }
            continue;
        }
        std::string host = top + Joined(resolved) + (resolved.empty() ? "" : "/") + part;
        if (lstat(host.c_str(), &walk.info) != 0) {
            walk.error = errno;
            return walk;
        }
        if (S_ISLNK(walk.info.st_mode)) {
            if (++links > kMaxLinks) {
                walk.result = PathWalk::kLoop;
                walk.error = ELOOP;
                return walk;
            }
            std::string target(static_cast<size_t>(walk.info.st_size) + 1, '\0');
            ssize_t length = readlink(host.c_str(), &target[0], target.size());
            if (length < 0) {
                walk.error = errno;
                return walk;
            }
            target.resize(static_cast<size_t>(length));
            if (!target.empty() && target[0] == '/') {
                resolved.clear();
            }
            PushComponents(queue, target);
            continue;
        }
        resolved.push_back(part);
        if (!queue.empty() && !S_ISDIR(walk.info.st_mode)) {
            walk.error = ENOTDIR;
            return walk;
        }
        Judge(walk, Joined(resolved), walk.info, checkOwner);
    }
    walk.result = PathWalk::kFound;
    walk.boxPath = Joined(resolved);
    walk.hostPath = top.empty() ? walk.boxPath : resolved.empty() ? top : top + walk.boxPath;
    return walk;
}

std::string CommandProgram(const std::string& command) {
    size_t begin = command.find_first_not_of(" \t");
    if (begin == std::string::npos || command[begin] != '/') {
        return "";
    }
    return command.substr(begin, command.find_first_of(" \t", begin) - begin);
}

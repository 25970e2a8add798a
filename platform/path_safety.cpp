// Finding a path as the box will find it, and whether someone other than root could change
// what the daemon runs or reads there. Shared by the daemon's start-up and vigilerctl check.
#include "platform/path_safety.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows before ELOOP

// The components still to walk are kept last-first, so the next one is at the back.
void PushComponents(std::vector<std::string>& pending, const std::string& path) {
    size_t end = path.size();
    while (end > 0) {
        size_t slash = path.rfind('/', end - 1);
        size_t begin = slash == std::string::npos ? 0 : slash + 1;
        if (end > begin) {
            pending.push_back(path.substr(begin, end - begin));
        }
        if (slash == std::string::npos) {
            break;
        }
        end = slash;
    }
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
    std::vector<std::string> pending;
    PushComponents(pending, path);
    std::vector<std::string> resolved;  // box path components, no link among them
    int links = 0;
    while (!pending.empty()) {
        std::string part = std::move(pending.back());
        pending.pop_back();
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
            // Some file systems give a link's size as 0, so the buffer is not sized by it.
            char buffer[PATH_MAX];
            ssize_t length = readlink(host.c_str(), buffer, sizeof buffer);
            if (length < 0 || length == static_cast<ssize_t>(sizeof buffer)) {
                walk.error = length < 0 ? errno : ENAMETOOLONG;
                return walk;
            }
            std::string target(buffer, static_cast<size_t>(length));
            if (!target.empty() && target[0] == '/') {
                resolved.clear();
            }
            PushComponents(pending, target);
            continue;
        }
        resolved.push_back(part);
        if (!pending.empty() && !S_ISDIR(walk.info.st_mode)) {
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

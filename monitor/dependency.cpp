// The conditions a service may depend on: WAN link, wireless link, an rc.conf value.
// Owns the three condition forms and the kernel's interface and address queries.
#include "monitor/dependency.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "config/rc_conf_reader.h"
#include "core/log.h"
#include "platform/config_file.h"

namespace {

constexpr size_t kInterfaceListBytes = 8192;
// Longest key or value of a "variable" condition.
constexpr size_t kMaxVariableText = 49;

bool StartsWith(const char* text, const char* prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// rc.conf is read afresh so a changed switch counts at once.
int CheckVariable(const char* text) {
    std::string key;
    std::string value;
    if (!SplitVariableDependency(text, key, value)) {
        Report("Error: Malformed dependancy %s\n", text);
        return 0;
    }
    try {
        ConfigFile rcConf(kRcConfPath, false, false);
        if (!rcConf.IsRead()) {
            rcConf.ReadFile();
        }
        return rcConf.Buffer().GetEntry(key) == value ? 1 : 0;
    } catch (const std::exception&) {
        // Without rc.conf the condition cannot be shown to hold; the service waits for it.
        Report("Error: failed to open /etc/sysconfig/rc.conf\n");
        return 0;
    }
}

bool IsListed(const char* buffer, size_t length, const char* interfaceName) {
    bool listed = false;
    // The kernel packs whole interface requests, whose size differs between 32- and 64-bit
    // boxes.
    for (size_t offset = 0; offset + sizeof(struct ifreq) <= length;
         offset += sizeof(struct ifreq)) {
        struct ifreq record;
        memcpy(&record, buffer + offset, sizeof record);
        std::string name(record.ifr_name, strnlen(record.ifr_name, IFNAMSIZ));
        if (name == interfaceName) {
            listed = true;
        }
    }
    return listed;
}

int QueryAddress(int fd, const char* interfaceName) {
    alignas(struct ifreq) char buffer[kInterfaceListBytes];
    struct ifconf list = {};
    list.ifc_len = static_cast<int>(sizeof buffer);
    list.ifc_buf = buffer;
    if (ioctl(fd, SIOCGIFCONF, &list) < 0) {
        fputs("SIOCGIFCONF call failed\n", stderr);
        return 0;
    }
    if (list.ifc_len <= 0 || !IsListed(buffer, static_cast<size_t>(list.ifc_len), interfaceName)) {
        return 0;
    }

    struct ifreq request = {};
    strncpy(request.ifr_name, interfaceName, IFNAMSIZ - 1);
    if (ioctl(fd, SIOCGIFADDR, &request) < 0 || request.ifr_addr.sa_family != AF_INET) {
        return 0;
    }
    struct sockaddr_in address;
    memcpy(&address, &request.ifr_addr, sizeof address);
    return address.sin_addr.s_addr != 0 ? 1 : 0;
}

}  // namespace

bool SplitVariableDependency(const char* text, std::string& key, std::string& value) {
    const char* first = strchr(text, ' ');
    const char* second = first == nullptr ? nullptr : strchr(first + 1, ' ');
    if (second == nullptr) {
        return false;
    }
    std::string keyText(first + 1, second);
    std::string valueText(second + 1);
    if (keyText.size() > kMaxVariableText || valueText.size() > kMaxVariableText) {
        return false;
    }
    key = std::move(keyText);
    value = std::move(valueText);
    return true;
}

DependencyForm FormOfDependency(const char* dependsOn) {
    const char* text = dependsOn == nullptr ? "" : dependsOn;
    if (StartsWith(text, "wanlink")) {
        return DependencyForm::kWanLink;
    }
    if (StartsWith(text, "wlanlink")) {
        return DependencyForm::kWlanLink;
    }
    if (StartsWith(text, "variable")) {
        return DependencyForm::kVariable;
    }
    return DependencyForm::kUnknown;
}

int CheckDepend(const char* dependsOn) {
    const char* text = dependsOn == nullptr ? "" : dependsOn;
    switch (FormOfDependency(text)) {
        case DependencyForm::kWanLink: {
            std::string wan;
            if (!WanInterfaceName(wan)) {
                return 0;
            }
            return HasIPAddress(wan.c_str()) != 0 ? 1 : 0;
        }
        case DependencyForm::kWlanLink:
            return HasIPAddress("wlan0") != 0 ? 1 : 0;
        case DependencyForm::kVariable:
            return CheckVariable(text);
        case DependencyForm::kUnknown:
            break;
    }
    Report("Error: Error: Unknown dependancy %s\n", text);
    return 0;
}

int HasIPAddress(const char* interfaceName) {
    // Until a WAN interface is known the box has no links worth depending on, the wireless
    // one included.
    std::string wan;
    if (!WanInterfaceName(wan) || interfaceName == nullptr) {
        return 0;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return 0;
    }
    int result = QueryAddress(fd, interfaceName);
    close(fd);
    return result;
}

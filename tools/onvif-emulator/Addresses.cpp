#include "Addresses.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

InterfaceAddresses::~InterfaceAddresses()
{
    for (const Added& a : added) {
        int kernelError = 0;
        Change(false, a.ifindex, a.address, a.prefixLength, kernelError);
    }
    if (fd >= 0)
        close(fd);
}

bool InterfaceAddresses::Add(int ifindex, in_addr address, int prefixLength, std::string& error)
{
    int kernelError = 0;
    if (!Change(true, ifindex, address, prefixLength, kernelError)) {
        error = "cannot add " + IPv4Text(address) + ": " + std::strerror(kernelError);
        return false;
    }
    if (kernelError == 0)
        added.push_back({ifindex, address, prefixLength});
    return true;
}

// Sends one address request and reads the kernel's answer. kernelError gets
// the kernel's errno (0 on success; EEXIST for an add counts as done).
bool InterfaceAddresses::Change(bool add, int ifindex, in_addr address, int prefixLength, int& kernelError)
{
    if (fd < 0) {
        fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (fd < 0) {
            kernelError = errno;
            return false;
        }
    }
    struct {
        nlmsghdr header;
        ifaddrmsg message;
        char attributes[64];
    } request;
    std::memset(&request, 0, sizeof request);
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
    request.header.nlmsg_type = add ? RTM_NEWADDR : RTM_DELADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | (add ? NLM_F_CREATE | NLM_F_EXCL : 0);
    request.header.nlmsg_seq = 1;
    request.message.ifa_family = AF_INET;
    request.message.ifa_prefixlen = static_cast<unsigned char>(prefixLength);
    request.message.ifa_scope = RT_SCOPE_UNIVERSE;
    request.message.ifa_index = static_cast<unsigned>(ifindex);
    for (unsigned short type : {IFA_LOCAL, IFA_ADDRESS}) {
        rtattr* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) +
                                                      NLMSG_ALIGN(request.header.nlmsg_len));
        attribute->rta_type = type;
        attribute->rta_len = RTA_LENGTH(sizeof address);
        std::memcpy(RTA_DATA(attribute), &address, sizeof address);
        request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
    }
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        kernelError = errno;
        return false;
    }
    char answer[1024];
    ssize_t n = recv(fd, answer, sizeof answer, 0);
    const nlmsghdr* reply = reinterpret_cast<const nlmsghdr*>(answer);
    if (n < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) || reply->nlmsg_type != NLMSG_ERROR) {
        kernelError = EPROTO;
        return false;
    }
    kernelError = -static_cast<const nlmsgerr*>(NLMSG_DATA(reply))->error;
    return kernelError == 0 || (add && kernelError == EEXIST);
}

bool ParseIPv4(const std::string& text, in_addr& address)
{
    unsigned a, b, c, d;
    char end;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) != 4 || a > 255 || b > 255 || c > 255 ||
        d > 255)
        return false;
    address.s_addr = htonl((a << 24) | (b << 16) | (c << 8) | d);
    return true;
}

std::string IPv4Text(in_addr address)
{
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &address, text, sizeof text) ? text : "?";
}

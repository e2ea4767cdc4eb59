#include "EmuDevice.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

// The shuffle must be the same on every run so tests can rely on it.
std::vector<int> FixedShuffle(int count)
{
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i)
        order[i] = i;
    std::uint32_t state = 12345;
    for (int i = count - 1; i > 0; --i) {
        state = state * 1103515245u + 12345u;
        int j = static_cast<int>((state >> 8) % static_cast<std::uint32_t>(i + 1));
        std::swap(order[i], order[j]);
    }
    return order;
}

void SetText(char field[32], const std::string& text)
{
    std::memset(field, 0, 32);
    std::memcpy(field, text.data(), text.size() < 32 ? text.size() : 32);
}

std::uint32_t IpValue(const std::uint8_t ip[4])
{
    return (std::uint32_t(ip[0]) << 24) | (std::uint32_t(ip[1]) << 16) | (std::uint32_t(ip[2]) << 8) | ip[3];
}

void IpBytes(std::uint32_t value, std::uint8_t ip[4])
{
    for (int k = 0; k < 4; ++k)
        ip[k] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Splits at unescaped ';' and resolves the escapes of each field.
bool SplitFields(const std::string& line, std::vector<std::string>& fields)
{
    fields.assign(1, std::string());
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == ';') {
            fields.emplace_back();
        } else if (c == '\\') {
            if (i + 1 >= line.size())
                return false;
            char e = line[++i];
            if (e == '\\' || e == ';') {
                fields.back() += e;
            } else if (e == 'x' && i + 2 < line.size() && HexDigit(line[i + 1]) >= 0 &&
                       HexDigit(line[i + 2]) >= 0) {
                fields.back() += static_cast<char>(HexDigit(line[i + 1]) * 16 + HexDigit(line[i + 2]));
                i += 2;
            } else {
                return false;
            }
        } else {
            fields.back() += c;
        }
    }
    return true;
}

} // namespace

bool ParseMac(const std::string& text, std::uint8_t mac[6])
{
    std::string digits;
    for (char c : text) {
        if (c == ':' || c == '-')
            continue;
        if (HexDigit(c) < 0)
            return false;
        digits += c;
    }
    if (digits.size() != 12)
        return false;
    for (int k = 0; k < 6; ++k)
        mac[k] = static_cast<std::uint8_t>(HexDigit(digits[2 * k]) * 16 + HexDigit(digits[2 * k + 1]));
    return true;
}

bool ParseIp(const std::string& text, std::uint8_t ip[4])
{
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) != 4)
        return false;
    if (a > 255 || b > 255 || c > 255 || d > 255 || text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    ip[0] = static_cast<std::uint8_t>(a);
    ip[1] = static_cast<std::uint8_t>(b);
    ip[2] = static_cast<std::uint8_t>(c);
    ip[3] = static_cast<std::uint8_t>(d);
    return true;
}

std::string MacText(const std::uint8_t mac[6])
{
    char text[13];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

std::string IpText(const std::uint8_t ip[4])
{
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

std::string HexText(const std::uint8_t* bytes, int count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(count * 3);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

bool GenerateDevices(int count, const std::uint8_t baseIp[4], bool longName,
                     std::vector<EmuDevice>& devices, std::string& error)
{
    if (count < 1 || count > kMaxEmuDevices) {
        error = "--count must be 1 to " + std::to_string(kMaxEmuDevices);
        return false;
    }
    const std::uint32_t base = IpValue(baseIp);
    const std::uint32_t network = base & 0xFFFF0000u;
    if (((base + static_cast<std::uint32_t>(count) - 1) & 0xFFFF0000u) != network) {
        error = "--base-ip " + IpText(baseIp) + " leaves no room for " + std::to_string(count) + " addresses in its /16";
        return false;
    }
    std::vector<int> offsets = FixedShuffle(count);
    devices.assign(count, EmuDevice());
    for (int i = 0; i < count; ++i) {
        EmuDevice& d = devices[i];
        const int number = i + 1;
        const std::uint8_t mac[6] = {0x02, 0x4E, 0x56, static_cast<std::uint8_t>(number >> 16),
                                     static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
        std::memcpy(d.mac, mac, 6);
        IpBytes(base + static_cast<std::uint32_t>(offsets[i]), d.ip);
        IpBytes(0xFFFF0000u, d.mask);
        IpBytes(network | 1u, d.gateway);
        char text[64];
        std::snprintf(text, sizeof text, "摄像机-%04d", number);
        SetText(d.name, text);
        if (i == 0 && longName) // 9 + 5 + 18 bytes: exactly 32, whole characters only
            SetText(d.name, std::string(text) + "-ABCDEFGHIJKLMNOPQ");
        static const char* const models[] = {"NVC-2000", "NVC-4000P", "NVR-0816"};
        SetText(d.model, models[i % 3]);
        std::snprintf(text, sizeof text, "V2.1.%d build 240611", i % 10);
        SetText(d.version, text);
        std::snprintf(text, sizeof text, "NV%014d", number);
        SetText(d.serial, text);
    }
    return true;
}

bool LoadDevices(const char* path, std::vector<EmuDevice>& devices, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = std::string("cannot read ") + path;
        return false;
    }
    devices.clear();
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::string where = std::string(path) + ":" + std::to_string(lineNumber) + ": ";
        std::vector<std::string> f;
        if (!SplitFields(line, f) || f.size() != 8) {
            error = where + "expected 8 fields MAC;IP;MASK;GATEWAY;NAME;MODEL;VERSION;SERIAL";
            return false;
        }
        EmuDevice d;
        if (!ParseMac(f[0], d.mac) || !ParseIp(f[1], d.ip) || !ParseIp(f[2], d.mask) || !ParseIp(f[3], d.gateway)) {
            error = where + "bad MAC or address";
            return false;
        }
        for (int k = 4; k < 8; ++k) {
            if (f[k].size() > 32) {
                error = where + "text longer than 32 bytes";
                return false;
            }
        }
        SetText(d.name, f[4]);
        SetText(d.model, f[5]);
        SetText(d.version, f[6]);
        SetText(d.serial, f[7]);
        devices.push_back(d);
        if (static_cast<int>(devices.size()) > kMaxEmuDevices) {
            error = std::string(path) + ": more than " + std::to_string(kMaxEmuDevices) + " devices";
            return false;
        }
    }
    if (devices.empty()) {
        error = std::string(path) + ": no devices";
        return false;
    }
    return true;
}

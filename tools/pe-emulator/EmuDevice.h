#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One emulated PE device: what it reports and the state the commands change.
// Texts are the 32 bytes that go on the wire: they end at the first zero
// byte, or fill all 32 bytes with no terminator.
struct EmuDevice {
    std::uint8_t mac[6] = {};
    std::uint8_t ip[4] = {};
    std::uint8_t mask[4] = {};
    std::uint8_t gateway[4] = {};
    char name[32] = {};
    char model[32] = {};
    char version[32] = {};
    char serial[32] = {};
    bool shutDown = false; // after a shut-down the device answers nothing
    int restarts = 0;
};

// Largest device count the emulator accepts, so one search stays a bounded burst.
constexpr int kMaxEmuDevices = 4096;

// count devices (1..kMaxEmuDevices) with distinct MACs 02 4E 56 xx xx xx, names
// "摄像机-0001" upwards, mask 255.255.0.0 and gateway x.y.0.1 of baseIp's /16.
// The IPs are baseIp + 0 .. count - 1 handed out in a fixed shuffled order, so
// that reply order and IP order differ. longName gives device 0 a 32-byte
// name without terminator. Fails (false, error set) when the IPs would leave
// baseIp's /16 or count is out of range.
bool GenerateDevices(int count, const std::uint8_t baseIp[4], bool longName,
                     std::vector<EmuDevice>& devices, std::string& error);

// Reads devices from a text file, one per line:
//   MAC;IP;MASK;GATEWAY;NAME;MODEL;VERSION;SERIAL
// MAC as 12 hex digits, optionally split by ':' or '-'; addresses dotted.
// Texts are raw bytes (UTF-8 is fine), at most 32 once the escapes are
// resolved (\xHH a byte, \; a semicolon, a doubled backslash one backslash);
// exactly 32 leaves no terminator. Blank lines and lines
// starting with '#' are skipped. Fails on the first bad line, naming it.
bool LoadDevices(const char* path, std::vector<EmuDevice>& devices, std::string& error);

// Parsers for one field; they accept the whole text or fail.
bool ParseMac(const std::string& text, std::uint8_t mac[6]);
bool ParseIp(const std::string& text, std::uint8_t ip[4]);

// "024E56000001", "10.77.1.5", "50 45 00 ..." (upper-case, one space apart).
std::string MacText(const std::uint8_t mac[6]);
std::string IpText(const std::uint8_t ip[4]);
std::string HexText(const std::uint8_t* bytes, int count);

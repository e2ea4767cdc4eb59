#pragma once

// The emulator's command line and the devices it describes.

#include "Messages.h"

#include <netinet/in.h>

#include <string>
#include <vector>

struct Options {
    bool inNetns = false;
    int count = 1;
    in_addr first{htonl(0x0A4D0201)}; // 10.77.2.1
    std::string interface = "nv-dev";
    const char* namesFile = nullptr;
    bool percent20 = false;
    bool answerTwice = false;
    int garbageAfter = -1; // -1: never
    int delayMs = 0;
    int lifetimeS = 600;
    ReplyMode mode;
    const char* log = nullptr;
    const char* readyFile = nullptr;
};

// The --help text.
extern const char kHelp[];

// Returns 0 and fills o, 1 for --help, 2 after printing a usage error.
int ParseOptions(int argc, char** argv, Options& o);

// The devices o asks for, numbered from 1, with their addresses, uuids and
// names (read from o.namesFile when given). False with error set when the
// names file cannot be read.
bool MakeDevices(const Options& o, std::vector<OnvifEmuDevice>& devices, std::string& error);

#pragma once

#include <functional>
#include <string>
#include <vector>

// File chores shared by the namespace tests and their fixture.

// The whole file, or "" when it cannot be read.
std::string ReadFile(const std::string& path);

// How many of lines start with prefix.
int CountPrefixed(const std::vector<std::string>& lines, const std::string& prefix);

// Calls remove for every /tmp/<prefix><pid>-* entry whose process <pid> is
// gone: what a test process killed outright left behind.
void SweepStaleDirs(const std::string& prefix, const std::function<void(const std::string&)>& remove);

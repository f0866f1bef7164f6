// Runs a program to completion with the given standard input and collects
// what it printed: for tests of the command-line tools.
#pragma once

#include <string>
#include <vector>

struct CProcessResult {
    int nExitStatus = -1; // -1 when it did not exit normally
    std::string strOut;
    std::string strErr;
};

CProcessResult RunProcess(const std::vector<std::string>& args, const std::string& strInput = {});

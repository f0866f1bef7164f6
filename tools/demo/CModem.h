// The demo port's far end: a modem that answers AT commands as real ones do
// with echo off and verbose result codes. Plain logic, no I/O: it is fed
// what the host wrote and gives back what the modem says.
#pragma once

#include <cstddef>
#include <span>
#include <string>

class CModem {
public:
    // A command line longer than this is dropped whole and answered ERROR,
    // as a modem's command buffer overflows.
    static constexpr std::size_t MAX_COMMAND = 64;
    static constexpr const char* IDENTITY = "wirelet demo modem 1.0";

    // What the modem answers to these bytes from the host; commands end with
    // a carriage return and may arrive in any number of pieces.
    std::string Receive(std::span<const char> input);

private:
    std::string Answer(const std::string& strCommand);

    std::string m_strLine;
    bool m_bOverflow = false;
    unsigned m_nQueries = 0;
};

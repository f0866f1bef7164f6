// The access rights, service kinds and controls of our service manager. The
// values are those of the desktop platform wirelet was first written for, so
// that the driver procedures read the same on every platform.
#pragma once

#include <cstdint>
#include <string>

namespace Scm {

inline constexpr const char* SERVICES_ACTIVE_DATABASE = "ServicesActive";

inline constexpr std::uint32_t SC_MANAGER_CONNECT = 0x0001;
inline constexpr std::uint32_t SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr std::uint32_t SC_MANAGER_ALL_ACCESS = 0x000F003F;
// What a caller without write access to the database may still ask for.
inline constexpr std::uint32_t SC_MANAGER_READ_ONLY = 0x80020015;

inline constexpr std::uint32_t DELETE = 0x00010000;
inline constexpr std::uint32_t SERVICE_START = 0x0010;
inline constexpr std::uint32_t SERVICE_STOP = 0x0020;
inline constexpr std::uint32_t SERVICE_ALL_ACCESS = 0x000F01FF;
inline constexpr std::uint32_t GENERIC_ALL = 0x10000000;
inline constexpr std::uint32_t GENERIC_EXECUTE = 0x20000000;
// Querying a service needs no more than reading the database.
inline constexpr std::uint32_t SERVICE_READ_ONLY = 0x8002008D;

inline constexpr std::uint32_t SERVICE_KERNEL_DRIVER = 1;
inline constexpr std::uint32_t SERVICE_DEMAND_START = 3;
inline constexpr std::uint32_t SERVICE_ERROR_IGNORE = 0;
inline constexpr std::uint32_t SERVICE_CONTROL_STOP = 1;

} // namespace Scm

struct CServiceConfig {
    std::string strName;
    std::string strDisplayName;
    std::uint32_t dwServiceType = Scm::SERVICE_KERNEL_DRIVER;
    std::uint32_t dwStartType = Scm::SERVICE_DEMAND_START;
    std::uint32_t dwErrorControl = Scm::SERVICE_ERROR_IGNORE;
    std::string strImagePath; // absolute

    bool operator==(const CServiceConfig&) const = default;
};

// How long a start may wait for the daemon's readiness report, and a stop for
// its exit before it is killed.
struct CServiceTimeouts {
    int nReadyMs = 5000;
    int nStopMs = 5000;
};

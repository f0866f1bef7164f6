// Wireshark's capture through the extcap: the port's records as pcapng into
// the fifo Wireshark reads, until Wireshark stops it.
//
// Records pass through a queue of at most nQueueLimit bytes between the
// driver and the fifo. While Wireshark reads more slowly than the port
// talks, the queue fills; once it is full, no more records are fetched, the
// driver's own queue for the attachment fills in turn, and the driver drops
// records and counts them in a notice (a packet of its own, and a gap in the
// sequence numbers) once there is room again.
#pragma once

#include <cstddef>
#include <string>

// Returns the exit status: 0 once Wireshark stopped the capture (SIGTERM,
// SIGINT, or the fifo's reader gone), 1 on a driver or fifo error, said on
// stderr.
int RunExtcapCapture(const std::string& strFifo, const std::string& strPort,
                     std::size_t nQueueLimit);

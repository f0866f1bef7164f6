#pragma once

// `wirelet-cli monitor PORT`: every event of the port as it arrives, as the
// panes would show it, each line after the record's time and a direction.
int RunMonitor(int argc, char* argv[]);

#pragma once

// `wirelet-cli capture PORT [--format record|pcapng] -o FILE`: the port's
// records as a record file or as pcapng.
int RunCapture(int argc, char* argv[]);

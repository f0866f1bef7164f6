#pragma once

// `wirelet-cli convert FILE -o OUT [--port PATH]`: a record file as pcapng.
int RunConvert(int argc, char* argv[]);

#pragma once

// `wirelet-cli render`: what a new monitor's panes would hold after a record file.
int RunRender(int argc, char* argv[]);

// The optional named pipes of the command line.
#pragma once

// Scans the arguments after the program name. When both "--input-pipe=" and
// "--output-pipe=" are given, opens the output pipe and then the input pipe and
// makes them outputHandle and inputHandle. A pipe that cannot be opened ends the
// process with status 1, after a diagnostic naming the path and the reason.
void parseArgs(int argc, char** argv);

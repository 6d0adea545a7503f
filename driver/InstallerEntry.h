#pragma once

// The frame of every run: prepares the process, parses the command line, runs
// `sequence` and turns every way the run can end into one exit code and one
// message. The sequence is a parameter so that test programs can run the same
// frame around a sequence of their own.
int InstallerEntry(void (*sequence)());

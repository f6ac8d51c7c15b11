// The AMPL driver: the program's entry and its bridge to the AMPL Solver Library.
#pragma once

namespace orva {

// Runs the whole AMPL flow for a command line; 0 after a completed run, 1 for bad options.
int main1(int argc, char **argv);

} // namespace orva

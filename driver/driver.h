// The AMPL driver: the program's entry and its bridge to the AMPL Solver Library.
#pragma once

namespace orva {

class error;

// Runs the whole AMPL flow for a command line; 0 after a completed run, 1 for bad options.
// An error of the library (lp/error.h) comes out of it.
int main1(int argc, char **argv);

// Ends the AMPL flow after an error of the library: an allocation failure is reported
// through the ASL's output and exit, as the ASL reports its own (status 1); a data
// error is printed as every program prints it, and its status returned.
int main1_failed(const error &e);

} // namespace orva

// The run: the command line's effect, the inputs in the order given, the
// record loop, the element files and the exit status. The only code that
// decides what reaches the file system, the console and the exit status;
// everything it converts goes through convert_line, so the tests and the
// fuzzers take exactly the path that the program takes.
#ifndef ORBELM_DRIVER_HPP
#define ORBELM_DRIVER_HPP

namespace orbelm {

// Runs the program: command line or prompt, the line loop, the console and
// the element files. Returns the exit status: 0 when every selected record
// was converted, 1 on any failure, 2 for a wrong command line.
int run(int argc, char** argv);

}  // namespace orbelm

#endif

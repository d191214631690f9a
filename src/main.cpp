// orbelm: converts minor-planet and comet orbit records into element files.
#include "driver.hpp"

int main(int argc, char** argv) { return orbelm::run(argc, argv); }

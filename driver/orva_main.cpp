#include "driver/driver.h"

int main(int argc, char **argv) { return orva::main1(argc, argv); }

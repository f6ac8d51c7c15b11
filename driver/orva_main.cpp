#include "driver/driver.h"
#include "lp/error.h"

int main(int argc, char **argv) {
    try {
        return orva::main1(argc, argv);
    } catch (const orva::error &e) {
        return orva::main1_failed(e);
    }
}

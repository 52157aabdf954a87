#include "cleaner/run_driver.h"

int main(int argc, char** argv)
{
    return cleaner::run_cleaner(argc, argv);
}

#include "cleaner/run_driver.h"
#include "mcl/mswin/system_library.h"

int main(int argc, char** argv)
{
    mcl::mswin::restrict_dll_search();
    return cleaner::run_cleaner(argc, argv);
}

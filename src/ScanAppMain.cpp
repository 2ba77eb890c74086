#include "ScanApp.h"

int main(int argc, char** argv) {
    return theApp.Run(argc, argv);
}

// The main of the tests that drive the windows: the application and the windows come first.
#include "WindowHarness.h"

int main(int argc, char** argv)
{
    return runWindowTests(argc, argv);
}

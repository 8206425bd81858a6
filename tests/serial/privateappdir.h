#ifndef PRIVATEAPPDIR_H
#define PRIVATEAPPDIR_H

#include <functional>

// The serial link reads "version.ini" beside the running program, and test
// programs run in parallel from one folder. run() starts a copy of this test
// program from a private temporary folder (so its version.ini is its own),
// passes the arguments and output through, and returns the copy's exit code.
// Inside the copy it just calls testMain.
class PrivateAppDir
{
public:
    static int run(int argc, char **argv, const std::function<int(int, char **)> &testMain);
};

#endif

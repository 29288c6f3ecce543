// The executable of a fixture host's folder: it imports the host library beside it by file name,
// which tells the check which of several copies the host loads.
#include "host/Log.h"

int main() {
    Log(L"fixture host");
    return 0;
}

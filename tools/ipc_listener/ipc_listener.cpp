// A listening IPC peer for the two-process tests and the benchmarks.
// Usage: ipc_listener NAME   (listens under NAME until killed or asked to die)
#include "scripted_handler.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: ipc_listener NAME\n");
        return 1;
    }
    ipc_listener::scripted_handler handler;
    mcl::ipc_peer peer(&handler);
    handler.attach(&peer);
    peer.set_name(argv[1]);
    peer.run_listener();
    std::fprintf(stderr, "ipc_listener: cannot listen under %s\n", argv[1]);
    return 2;
}

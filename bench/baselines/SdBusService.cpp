// The smallest bus-activated service, as the yardstick of a first call through activation: sd-bus, one object with
// CreateInstance and Release, the name given back and the process ended with the last release.

#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstring>

namespace {

bool gDone = false;

int CreateInstance(sd_bus_message* Call, void*, sd_bus_error*)
{
    return sd_bus_reply_method_return(Call, "o", "/OrvelBench/Object/1");
}

int Release(sd_bus_message* Call, void*, sd_bus_error*)
{
    gDone = true;
    return sd_bus_reply_method_return(Call, "");
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("CreateInstance", "", "o", CreateInstance, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Release", "", "", Release, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

} // namespace

// argv[1]: the well-known name to take.
int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0 ||
        sd_bus_add_object_vtable(bus, nullptr, "/OrvelBench", "OrvelBench.Minimal", kVtable, nullptr) < 0 ||
        sd_bus_request_name(bus, argv[1], 0) < 0) {
        std::fprintf(stderr, "no bus\n");
        return 1;
    }
    while (!gDone) {
        const int handled = sd_bus_process(bus, nullptr);
        if (handled < 0)
            break;
        if (handled == 0 && sd_bus_wait(bus, UINT64_MAX) < 0)
            break;
    }
    sd_bus_release_name(bus, argv[1]);
    sd_bus_flush_close_unref(bus);
    return 0;
}

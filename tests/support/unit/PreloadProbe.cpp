// A program linked against the real hidapi, run by the tests with the simulated-unit library
// preloaded: it counts the units it finds and asks the first one for its versions.
#include <hidapi/hidapi.h>

#include <cstdio>

int main()
{
    if (hid_init() != 0)
        return 2;

    int units = 0;
    hid_device_info* list = hid_enumerate (0x04D8, 0);

    for (hid_device_info* entry = list; entry != nullptr; entry = entry->next)
        ++units;

    hid_device* device = list != nullptr ? hid_open_path (list->path) : nullptr;
    hid_free_enumeration (list);
    std::printf ("units %d\n", units);

    if (device == nullptr)
        return 3;

    const unsigned char request[] = { 0x00, 0xB5, 0x00 };
    unsigned char answer[64] = {};
    const bool ok = hid_write (device, request, sizeof (request)) == static_cast<int> (sizeof (request))
                    && hid_read_timeout (device, answer, sizeof (answer), 5000) == 64 && answer[0] == 0xC0 && answer[2] == 0xB5;

    if (ok)
        std::printf ("system %d.%d.%d dsp %d.%d.%d\n", answer[3], answer[4], answer[5], answer[6], answer[7], answer[8]);

    hid_close (device);
    hid_exit();
    return ok ? 0 : 4;
}

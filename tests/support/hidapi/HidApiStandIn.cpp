// The hidapi C functions over the simulated bus. Linked into test and benchmark
// programs in place of the real library, so they can never reach a real device.

#include "SimulatedHidBusInternal.h"

#include <cwchar>

namespace
{
SimHid::Bus::Impl& bus()
{
    return SimHid::Bus::instance().impl();
}

const wchar_t* const kNoError = L"Success";
const wchar_t* const kDeviceError = L"Device unavailable";

int copyDescriptionString (hid_device* dev, std::wstring SimHid::DeviceDescription::*field, wchar_t* string, size_t maxlen)
{
    if (string == nullptr || maxlen == 0)
        return -1;
    bool ok = false;
    const std::wstring text = bus().descriptionString (dev, field, ok);
    if (! ok)
        return -1;
    std::wcsncpy (string, text.c_str(), maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
}

const hid_api_version kVersion { HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH };
} // namespace

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init (void)
{
    std::lock_guard<std::mutex> lock (bus().mutex);
    ++bus().inits;
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit (void)
{
    std::lock_guard<std::mutex> lock (bus().mutex);
    --bus().inits;
    return 0;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate (unsigned short vendor_id, unsigned short product_id)
{
    return bus().enumerate (vendor_id, product_id);
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration (struct hid_device_info* devs)
{
    bus().freeEnumeration (devs);
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open (unsigned short vendor_id, unsigned short product_id,
                                                  const wchar_t* serial_number)
{
    return bus().open (vendor_id, product_id, serial_number);
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path (const char* path)
{
    return bus().open (path);
}

int HID_API_EXPORT HID_API_CALL hid_write (hid_device* dev, const unsigned char* data, size_t length)
{
    return bus().write (dev, data, length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout (hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    return bus().read (dev, data, length, milliseconds);
}

int HID_API_EXPORT HID_API_CALL hid_read (hid_device* dev, unsigned char* data, size_t length)
{
    return bus().read (dev, data, length, bus().blockingTimeout (dev));
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking (hid_device* dev, int nonblock)
{
    return bus().setNonBlocking (dev, nonblock != 0);
}

// The simulated devices have no feature reports.
int HID_API_EXPORT HID_API_CALL hid_send_feature_report (hid_device*, const unsigned char*, size_t)
{
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report (hid_device*, unsigned char*, size_t)
{
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report (hid_device*, unsigned char*, size_t)
{
    return -1;
}

void HID_API_EXPORT HID_API_CALL hid_close (hid_device* dev)
{
    bus().close (dev);
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string (hid_device* dev, wchar_t* string, size_t maxlen)
{
    return copyDescriptionString (dev, &SimHid::DeviceDescription::manufacturer, string, maxlen);
}

int HID_API_EXPORT_CALL hid_get_product_string (hid_device* dev, wchar_t* string, size_t maxlen)
{
    return copyDescriptionString (dev, &SimHid::DeviceDescription::product, string, maxlen);
}

int HID_API_EXPORT_CALL hid_get_serial_number_string (hid_device* dev, wchar_t* string, size_t maxlen)
{
    return copyDescriptionString (dev, &SimHid::DeviceDescription::serial, string, maxlen);
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_get_device_info (hid_device* dev)
{
    return bus().deviceInfo (dev);
}

int HID_API_EXPORT_CALL hid_get_indexed_string (hid_device*, int, wchar_t*, size_t)
{
    return -1;
}

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error (hid_device* dev)
{
    return dev == nullptr || bus().isUsable (dev) ? kNoError : kDeviceError;
}

HID_API_EXPORT const struct hid_api_version* HID_API_CALL hid_version (void)
{
    return &kVersion;
}

HID_API_EXPORT const char* HID_API_CALL hid_version_str (void)
{
    return HID_API_VERSION_STR;
}

} // extern "C"

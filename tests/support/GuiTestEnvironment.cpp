#include "GuiTestEnvironment.h"

#include "ImageResourcePack.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

// The framework sets a window's WM_PROTOCOLS and reads its WM_STATE through atoms that it only
// looks up, never creates. A bare X server (Xvfb without a window manager) has not interned them,
// and the first window then dies of a BadAtom error. This connection interns them, through the
// same libX11 that the framework loads at run time, and stays open while the tests run: an X
// server that loses its last client resets and forgets its atoms.
class GuiTestEnvironment::AtomKeeper
{
public:
    AtomKeeper()
    {
        if (! _x11.open ("libX11.so.6"))
            return;
        auto openDisplay = reinterpret_cast<Display* (*) (const char*)> (_x11.getFunction ("XOpenDisplay"));
        auto internAtom = reinterpret_cast<unsigned long (*) (Display*, const char*, int)> (_x11.getFunction ("XInternAtom"));
        _closeDisplay = reinterpret_cast<int (*) (Display*)> (_x11.getFunction ("XCloseDisplay"));
        if (openDisplay == nullptr || internAtom == nullptr || _closeDisplay == nullptr)
            return;

        // The framework ignores X errors only in a standalone application: in a test program the
        // default handler would end the process at a request on a window that has just gone, say
        // an alert's window closing while the framework still walks the window tree.
        _setErrorHandler = reinterpret_cast<ErrorHandler (*) (ErrorHandler)> (_x11.getFunction ("XSetErrorHandler"));
        if (_setErrorHandler != nullptr)
            _previousErrorHandler = _setErrorHandler (&ignoreError);

        _display = openDisplay (nullptr);
        if (_display == nullptr)
            return;
        for (const char* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "_NET_WM_PING",
                                  "WM_CHANGE_STATE", "WM_STATE", "_NET_WM_WINDOW_TYPE", "_NET_WM_STATE",
                                  "_NET_WM_STATE_HIDDEN" })
            internAtom (_display, name, 0);
    }

    ~AtomKeeper()
    {
        if (_display != nullptr)
            _closeDisplay (_display);
        if (_setErrorHandler != nullptr)
            _setErrorHandler (_previousErrorHandler);
    }

private:
    using Display = void;
    using ErrorHandler = int (*) (Display*, void*);

    static int ignoreError (Display*, void*) { return 0; }

    juce::DynamicLibrary _x11;
    Display* _display = nullptr;
    int (*_closeDisplay) (Display*) = nullptr;
    ErrorHandler (*_setErrorHandler) (ErrorHandler) = nullptr;
    ErrorHandler _previousErrorHandler = nullptr;
};

GuiTestEnvironment::GuiTestEnvironment() = default;
GuiTestEnvironment::~GuiTestEnvironment() = default;

void GuiTestEnvironment::SetUp()
{
    // Windows and alerts need an X server; without one the framework crashes instead of failing.
    if (juce::SystemStats::getEnvironmentVariable ("DISPLAY", {}).isEmpty())
    {
        std::fprintf (stderr, "These tests need an X display: set DISPLAY (scripts/test.sh starts Xvfb)\n");
        std::exit (2);
    }

    _atoms = std::make_unique<AtomKeeper>();
    _gui = std::make_unique<juce::ScopedJuceInitialiser_GUI>();

    _imagePack.reset (std::fopen (TOVAREK_IMAGE_PACK_FILE, "rb"));
    std::FILE* pack = _imagePack.get();
    const bool registered = pack != nullptr && registerImageResources ([pack] (unsigned int offset, unsigned long size, void* destination) {
        return std::fseek (pack, static_cast<long> (offset), SEEK_SET) == 0 && std::fread (destination, 1, size, pack) == size;
    });
    if (! registered)
    {
        std::fprintf (stderr, "Cannot register the image pack %s (built by the target tovarek_image_pack)\n", TOVAREK_IMAGE_PACK_FILE);
        std::exit (2);
    }
}

void GuiTestEnvironment::TearDown()
{
    releaseImageResources();
    _imagePack.reset();
    _gui.reset();
    _atoms.reset();
}

testing::AssertionResult isImageResource (const juce::Image& image, unsigned id)
{
    const auto expected = getImageResource (id);
    if (! expected.isValid())
        return testing::AssertionFailure() << "the registry has no image " << id;
    if (image == expected) // the same shared pixel data
        return testing::AssertionSuccess();

    auto failure = testing::AssertionFailure() << "expected image " << id << ", got ";
    for (const auto& file : kImageResourceFiles)
        if (image == getImageResource (file.id))
            return failure << "image " << file.id;
    return failure << (image.isValid() ? "an image of no id" : "a null image");
}

namespace
{
constexpr auto kFocusWait = std::chrono::seconds (60);
constexpr auto kFocusRetry = std::chrono::milliseconds (10);

// Binds a socket to the name, or returns -1 while another process holds it.
int bindAbstractName (const std::string& name)
{
    const int fd = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::copy (name.begin(), name.end(), address.sun_path + 1); // sun_path[0] == 0: abstract
    const auto length = static_cast<socklen_t> (offsetof (sockaddr_un, sun_path) + 1 + name.size());
    if (::bind (fd, reinterpret_cast<const sockaddr*> (&address), length) == 0)
        return fd;
    ::close (fd);
    return -1;
}
} // namespace

ScopedDisplayFocus::ScopedDisplayFocus()
{
    const auto display = juce::SystemStats::getEnvironmentVariable ("DISPLAY", {}).retainCharacters ("0123456789");
    const std::string name = "tovarek-test-focus" + display.toStdString();
    const auto deadline = std::chrono::steady_clock::now() + kFocusWait;
    while ((_socket = bindAbstractName (name)) < 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for (kFocusRetry);
}

ScopedDisplayFocus::~ScopedDisplayFocus()
{
    if (_socket >= 0)
        ::close (_socket);
}

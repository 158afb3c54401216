#include "TovarekMk2EditorApplication.h"

// The framework's application main: creates the application object, drives initialise,
// the message loop and shutdown.
START_JUCE_APPLICATION (TovarekMk2EditorApplication)

#pragma once

namespace mirelva {

class NodeBackend;
class SpeechVoice;
class MainWindow;
class DtmfWindow;
class SpeechSettingsWindow;
class WebToolsWindow;
class GreetingWindow;
class AboutWindow;
class MessageBoxWindow;

// The program's windows and the two outside components they share. This is
// the one way a window reaches another: through the pointer here, which is
// null while that window does not exist (yet).
struct Station {
    NodeBackend *node = nullptr;
    SpeechVoice *voice = nullptr;

    MainWindow *main = nullptr;
    DtmfWindow *dtmf = nullptr;
    SpeechSettingsWindow *speechSettings = nullptr;
    WebToolsWindow *webTools = nullptr;
    GreetingWindow *greeting = nullptr;
    AboutWindow *about = nullptr;
    MessageBoxWindow *messageBox = nullptr;
};

} // namespace mirelva

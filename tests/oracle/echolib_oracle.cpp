// The test oracle: what Debian's EchoLib itself sends, for comparing the
// node's own packets with byte for byte. No Qt: EchoLib's own event loop
// (libasynccpp). It logs in to a directory and connects to a station, both
// of which the test stands in for, so the test captures the bytes:
//
//   echolib_oracle DIRECTORY STATION BIND PORTBASE CALLSIGN PASSWORD LOCATION NAME
//
// DIRECTORY gets the login on TCP 5200; BIND:PORTBASE+1 sends STATION an
// SDES (the connect, GSM only) and, half a second later, a BYE; the program
// ends a second after that.

#include <AsyncCppApplication.h>
#include <AsyncIpAddress.h>
#include <AsyncTimer.h>
#include <EchoLinkDirectory.h>
#include <EchoLinkDispatcher.h>
#include <EchoLinkQso.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 9) {
        std::fprintf(stderr, "usage: %s DIRECTORY STATION BIND PORTBASE CALLSIGN PASSWORD LOCATION NAME\n", argv[0]);
        return 2;
    }
    Async::CppApplication app;
    const std::vector<std::string> servers{argv[1]};
    EchoLink::Directory directory(servers, argv[5], argv[6], argv[7]);
    directory.makeOnline();

    EchoLink::Dispatcher::setBindAddr(Async::IpAddress(argv[3]));
    EchoLink::Dispatcher::setPortBase(std::atoi(argv[4]));
    if (!EchoLink::Dispatcher::instance()) {
        std::fprintf(stderr, "cannot bind %s:%s\n", argv[3], argv[4]);
        return 1;
    }
    auto qso = std::make_unique<EchoLink::Qso>(Async::IpAddress(argv[2]), argv[5], argv[8], "");
    // EchoLib makes its SDES when the name is set: set again once GSM alone
    // is chosen, it offers no Speex.
    qso->setUseGsmOnly();
    qso->setLocalName(argv[8]);
    qso->connect();

    Async::Timer bye(500);
    bye.expired.connect([&qso](Async::Timer *) { qso->disconnect(); });
    Async::Timer end(1500);
    end.expired.connect([&app](Async::Timer *) { app.quit(); });
    app.exec();
    qso.reset();
    EchoLink::Dispatcher::deleteInstance();
    return 0;
}

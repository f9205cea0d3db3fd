#pragma once

#include <QString>
#include <QStringList>

namespace mirelva {

class SimulatedNode;

// Text commands that fire the simulated node's events, one per line: the
// node console's command line, and the way a program without windows drives
// the same node from standard input.
//
//   connect CALL [NAME] [ADDR]   a station connects (quote a name with blanks)
//   disconnect CALL              a station disconnects
//   carrier on|off               a local carrier (CarrierDetect)
//   rx on|off                    an internet station talks (RX)
//   busy on|off                  the link is busy
//   active on|off                the link is active
//   receiving on|off             the receiver hears a signal
//   keyed on|off                 the transmitter is keyed
//   dtmf DIGITS                  a DTMF string (0-9, A-D, * and #)
//   chat TEXT...                 a chat text arrives
//   callsign CALL                the node's own callsign
//   closing                      the node closes
//   state                        the node's state, as one line of JSON
//   help                         this list
//
// Blank lines and lines starting with "#" do nothing.
namespace NodeCommands {

// Runs one line against the node. On a bad line nothing happens to the node,
// *error (when given) says why, and the result is false. Text meant for the
// person typing (state, help) is appended to *output when given.
bool run(SimulatedNode *node, const QString &line, QString *error, QStringList *output = nullptr);

QStringList helpText();
// The node's state as one line: "state " and a JSON object with the fields
// of a full state line of the node link, plus ptt, nodeBusy, rts and dtr.
QString stateLine(const SimulatedNode &node);

// Splits a line into words; a double-quoted part keeps its blanks. False when
// a quote is left open.
bool splitWords(const QString &line, QStringList *words);
// "on", "off" and their usual spellings; false when the word is neither.
bool parseOnOff(const QString &word, bool *on);
// A station text as a node gives it: letters, digits and the marks used by
// links, repeaters and conferences ("-L", "-R", "*NAME*", "/P"), at most 32.
bool isCall(const QString &call);
// Whether the text is a DTMF string: 0-9, A-D (either case), * and #.
bool isDtmf(const QString &digits);

} // namespace NodeCommands

} // namespace mirelva

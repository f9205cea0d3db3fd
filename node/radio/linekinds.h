#pragma once

// The line kinds behind OutputLine::create and InputLine::create.

#include "node/radio/lines.h"

namespace mirelva::radio {

std::unique_ptr<OutputLine> makeSerialOutput(const LineSpec &lineSpec, QObject *parent);
std::unique_ptr<InputLine> makeSerialInput(const LineSpec &lineSpec, QObject *parent);
std::unique_ptr<OutputLine> makeHidrawOutput(const LineSpec &lineSpec, QObject *parent);
std::unique_ptr<InputLine> makeHidrawInput(const LineSpec &lineSpec, QObject *parent);
std::unique_ptr<OutputLine> makeGpioOutput(const LineSpec &lineSpec, QObject *parent);
std::unique_ptr<InputLine> makeGpioInput(const LineSpec &lineSpec, QObject *parent);

// The name a line's requests carry (gpioinfo shows it).
inline constexpr char kConsumer[] = "mirelva-echolink";

} // namespace mirelva::radio

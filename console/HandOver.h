// The hand-over of a worker's lines to its command's thread. The worker publishes what one read
// (or one input entry) delivers as a batch and waits; the command's thread delivers the batch line
// by line, in order, as the worker would have with one blocking hand-over per line, and answers.
#pragma once

#include <memory>
#include <vector>

#include "console/DosRun.h"

// Worker side: hands the batch over and waits until it has been delivered or the command has let
// the worker go. Returns where a termination request stopped the delivery, or -1.
long HandOver(TDosRun& run, std::vector<TDelivery>&& batch);

// Command side: applies every line the run's worker has handed over.
void ApplyPendingLines(const std::shared_ptr<TDosRun>& run);

// One delivery on the command's thread: captured, noted by the watchdog, then the display lines
// and the line handler.
void ApplyDelivery(TDosRun& run, TDosCommand& command, TDelivery& d);

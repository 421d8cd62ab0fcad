#pragma once

// Files and folders dropped onto the queue (or given on the command line, which the program
// takes as a drop of them).

#include <string>
#include <vector>

class JobQueue;
class QDropEvent;

// Queues what it can of paths: a folder is searched for files of the accepted kinds, a DVD
// folder becomes one entry. Returns the paths that were refused.
std::vector<std::string> QueuePaths(const std::vector<std::string>& paths, JobQueue& queue);

// A drag of files over the queue, or their drop: taken as a copy, never as a move, since a
// source told "moved" could delete the user's files. Returns whether the event carried files;
// on a drop, `dropped` gets their local paths, byte for byte as the drag source encoded them.
bool TakeFileDrag(QDropEvent& event, std::vector<std::string>& dropped);

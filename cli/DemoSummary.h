// The demo's closing summary: what each of its two processes did, read from their activity records
// in the device directory.
#pragma once

class DemoChild;

// Prints the summary to standard output: frames sent by each capture path, colour messages
// received, writes sent, unchanged, skipped and failed, and the latency from frame to write.
void printDemoSummary(const DemoChild& homeScreen, const DemoChild& app);

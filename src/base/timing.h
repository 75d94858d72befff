// The waits and ticks of the system in one record. The defaults are the
// system's real numbers; tests shorten them to keep the suite fast. The
// server object keeps its copy; the rest reads it through a const reference.
#pragma once

struct TimingRecord {
  int TickMs = 1000;               // one pass of the main loop waits this long
  int RconWaitMs = 1000;           // the remote console's challenge and first-answer waits
  int RconGraceMs = 20;            // the wait for more after a short answer datagram
  // The wait for more after a full answer datagram (kRconFullAnswerChars). A
  // real engine sends all datagrams of one answer within one frame, back to
  // back: measured on ReHLDS (32 bots, 800 "status" and 60 "cvarlist" answers
  // on loopback), the next datagram followed within 90 us (median 2 us) idle,
  // and within 4.8 ms with both cores loaded. Ten times the worst gap.
  int RconMoreMs = 50;
  int RegistryWaitMs = 3000;       // the central registry's answer
  int TerminateWaitMs = 5000;      // release of the command server
  int TerminateCheckMs = 250;      // how often the release looks at its threads
  int ScreenStopCheckMs = 1000;    // the screen receiver looks for a stop this often
  int SupervisionEveryTicks = 30;  // supervision in pass 1 and every 30 passes
  int AdvertEveryTicks = 501;      // advertisement every 501 passes
};

// Shortens the main loop's tick when ACSERVER_TICK_MS is set (1 to 1000): the
// end-to-end tests run the real program through many supervision and
// maintenance runs without waiting minutes. Unset, nothing changes. Main
// thread, at start.
void ApplyTimingFromEnvironment(TimingRecord& timing);

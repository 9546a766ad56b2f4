#ifndef TARNWICK_LAUNCH_H_
#define TARNWICK_LAUNCH_H_

/// Asks the shell to open every entry of g_launch_list, in order, narrating when `verbose`.
/// True when every request was carried out (also for an empty list); false when any failed, in
/// which case every later entry has still been attempted.
bool LaunchApplications(bool verbose);

#endif  // TARNWICK_LAUNCH_H_

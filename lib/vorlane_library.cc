// libvorlane.so is assembled from the subsystems' static libraries; this file
// only gives the shared library target a source of its own.

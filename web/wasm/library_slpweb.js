// The functions the binding (SlpWeb.cpp) calls in the worker: progress goes to the module's onProgress.
mergeInto(LibraryManager.library, {
  slpweb_report_progress: function (stage, percentage) {
    if (Module['onProgress']) Module['onProgress'](stage, percentage);
  },
});

# Sources of libreference-zol.so, relative to src/. Android.bp lists the same.
set(ZOL_MODULE_SOURCES
  core/reference-zol.cpp
  core/zol_response.cpp
  core/zol_timer.cpp
  core/zol_placeholder_handlers.cpp
  log/zol_log.cpp
  event/zol_event.cpp
  reqlist/zol_reqlist.cpp
  ipc/zol_ipc.cpp
  ipc/zol_flow.cpp
  cm/zol_cm.cpp
)

# Sources of libreference-zol.so, relative to src/, by layer from the top
# (ARCHITECTURE.md). Android.bp lists the same.
set(ZOL_MODULE_SOURCES
  core/reference-zol.cpp
  cm/zol_cm.cpp
  cm/zol_cm_dial.cpp
  cm/zol_cm_dtmf.cpp
  cm/zol_cm_ims.cpp
  cm/zol_cm_incoming.cpp
  cm/zol_cm_modify.cpp
  cm/zol_cm_progress.cpp
  cm/zol_cm_release.cpp
  sms/zol_sms.cpp
  sms/zol_sms_ind.cpp
  sups/zol_sups_common.cpp
  sups/zol_sups_conf.cpp
  sups/zol_sups_query.cpp
  sups/zol_sups_set.cpp
  flow/zol_flow.cpp
  ipc/zol_ipc.cpp
  event/zol_event.cpp
  runtime/zol_memory.cpp
  runtime/zol_reqlist.cpp
  runtime/zol_response.cpp
  runtime/zol_timer.cpp
  log/zol_log.cpp
)

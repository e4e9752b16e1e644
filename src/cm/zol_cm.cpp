// Call control and call state.
#include "common/zol_diag.h"
#include "reference_zol.h"

extern "C" {

void zol_cm_send_unsol_call_state_changed(void)
{
    zol_unsol_resp_params_type unsol;
    zol_default_unsol_resp_params(RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, &unsol);
    zol_send_unsol_response(&unsol);
}

} // extern "C"

/* The installed C interface: a blank frame is accepted and holds no symbol. */
#include <quarrow/quarrow.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    static unsigned char frame[64 * 48];
    memset(frame, 200, sizeof frame);
    quarrow_result* r = quarrow_read(frame, 64, 48, 0);
    const int ok = r && quarrow_result_status(r) == QUARROW_OK &&
                   quarrow_result_outcome(r) == QUARROW_OUTCOME_NOT_LOCATED;
    printf("%s\n", ok ? "c ok" : "c failed");
    quarrow_result_free(r);
    return ok ? 0 : 1;
}

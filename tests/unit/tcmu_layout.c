/* The layout of the kernel's TCMU ring as its UAPI header gives it, for the ring's test (the
 * header's inline functions are not C++). */
#include <stddef.h>

#include <linux/target_core_user.h>

const size_t tcmu_test_mailbox_size = sizeof(struct tcmu_mailbox);
const size_t tcmu_test_head = offsetof(struct tcmu_mailbox, cmd_head);
const size_t tcmu_test_tail = offsetof(struct tcmu_mailbox, cmd_tail);
const size_t tcmu_test_entry_size = sizeof(struct tcmu_cmd_entry);
const size_t tcmu_test_iov_cnt = offsetof(struct tcmu_cmd_entry, req.iov_cnt);
const size_t tcmu_test_cdb_off = offsetof(struct tcmu_cmd_entry, req.cdb_off);
const size_t tcmu_test_iov = offsetof(struct tcmu_cmd_entry, req.iov);
const size_t tcmu_test_status = offsetof(struct tcmu_cmd_entry, rsp.scsi_status);
const size_t tcmu_test_tmr_size = sizeof(struct tcmu_tmr_entry);
const size_t tcmu_test_tmr_cnt = offsetof(struct tcmu_tmr_entry, cmd_cnt);
const size_t tcmu_test_tmr_ids = offsetof(struct tcmu_tmr_entry, cmd_ids);
const unsigned tcmu_test_op_cmd = TCMU_OP_CMD, tcmu_test_op_pad = TCMU_OP_PAD,
               tcmu_test_op_tmr = TCMU_OP_TMR, tcmu_test_version = TCMU_MAILBOX_VERSION,
               tcmu_test_flags = TCMU_MAILBOX_FLAG_CAP_OOOC | TCMU_MAILBOX_FLAG_CAP_TMR;

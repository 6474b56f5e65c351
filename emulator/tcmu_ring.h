/* The command ring of one device of the kernel's SCSI target in userspace (TCMU): the mailbox,
 * the commands the kernel places on the ring, their data in the shared data area, and their
 * completions, which may come in any order. Written in C against the kernel's own UAPI header
 * <linux/target_core_user.h>, whose inline functions are not C++. Nothing here trusts an
 * offset or a length read from the shared memory without checking it against the mapping. */
#ifndef FWLOAD_EMULATOR_TCMU_RING_H
#define FWLOAD_EMULATOR_TCMU_RING_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { TCMU_RING_MAX_IOV = 256, TCMU_RING_MAX_ABORTED = 256 };

struct tcmu_ring;

/* One entry the kernel placed on the ring. */
struct tcmu_ring_request {
  int kind; /* 1: a command; 2: commands the kernel aborted (a task management request) */
  uint16_t id;
  uint8_t cdb[16];
  size_t cdb_length;
  size_t iov_count;
  uint64_t iov_offset[TCMU_RING_MAX_IOV]; /* within the mapping */
  uint64_t iov_length[TCMU_RING_MAX_IOV];
  size_t data_length; /* the sum of the iov lengths */
  size_t aborted_count;
  uint16_t aborted[TCMU_RING_MAX_ABORTED];
};

/* Opens the UIO device (/dev/uioN) and maps its `size` bytes; null with the reason in `error`
 * when that fails or the mailbox is not one this code knows. */
struct tcmu_ring* tcmu_ring_open(const char* device, size_t size, char* error, size_t error_size);
void tcmu_ring_close(struct tcmu_ring* ring);
/* The UIO file: readable when the kernel has placed entries on the ring. */
int tcmu_ring_fd(const struct tcmu_ring* ring);
/* Takes the kernel's notice (a 4-byte read of the file) once poll has said it is there. */
void tcmu_ring_acknowledge(struct tcmu_ring* ring);
/* The next entry placed since the last call: 1 with `out` filled, 0 when there is none, -1 when
 * the ring holds an entry that does not fit in it (it is then left alone). */
int tcmu_ring_next(struct tcmu_ring* ring, struct tcmu_ring_request* out);
/* Copies a command's outgoing data into `buffer` (at most `size` bytes); returns the bytes. */
size_t tcmu_ring_copy_out(const struct tcmu_ring* ring, const struct tcmu_ring_request* request,
                          uint8_t* buffer, size_t size);
/* Copies `size` bytes of incoming data into a command's data area (at most its length). */
size_t tcmu_ring_copy_in(struct tcmu_ring* ring, const struct tcmu_ring_request* request,
                         const uint8_t* data, size_t size);
/* Completes command `id` with a SCSI status and sense data, in the ring's slot at its tail (out
 * of order: the slot of the oldest command still open is taken over). */
void tcmu_ring_complete(struct tcmu_ring* ring, uint16_t id, uint8_t status, const uint8_t* sense,
                        size_t sense_length);
/* Tells the kernel that completions are in (a 4-byte write of the file). */
void tcmu_ring_notify(struct tcmu_ring* ring);

#ifdef __cplusplus
}
#endif

#endif

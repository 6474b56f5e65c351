#define _POSIX_C_SOURCE 200809L
#include "emulator/tcmu_ring.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <linux/target_core_user.h>

struct tcmu_ring {
  int fd;
  uint8_t* map;
  size_t size;
  struct tcmu_mailbox* mailbox;
  uint8_t* cmdr; /* the command ring */
  uint32_t cmdr_size;
  size_t data_start; /* where the data area begins */
  uint32_t next;     /* the next entry to read */
  uint32_t tail;     /* the end of what has been completed or skipped */
};

static void say(char* error, size_t size, const char* text) {
  if (error != NULL && size > 0) snprintf(error, size, "%s", text);
}

struct tcmu_ring* tcmu_ring_open(const char* device, size_t size, char* error, size_t error_size) {
  char text[256];
  if (size < sizeof(struct tcmu_mailbox)) {
    say(error, error_size, "the ring's mapping is smaller than its mailbox");
    return NULL;
  }
  const int fd = open(device, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    snprintf(text, sizeof text, "%s: %s", device, strerror(errno));
    say(error, error_size, text);
    return NULL;
  }
  void* map = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    snprintf(text, sizeof text, "%s: mmap: %s", device, strerror(errno));
    say(error, error_size, text);
    close(fd);
    return NULL;
  }
  struct tcmu_mailbox* mb = map;
  const uint32_t off = mb->cmdr_off, ring = mb->cmdr_size;
  const int ok = mb->version == TCMU_MAILBOX_VERSION && off >= sizeof *mb && ring > 0 &&
                 (size_t)off + ring <= size && (mb->flags & TCMU_MAILBOX_FLAG_CAP_OOOC) != 0;
  if (!ok) {
    snprintf(text, sizeof text,
             "%s: a mailbox this program does not know (version %u, flags %#x): it needs "
             "version %d with out-of-order completions",
             device, (unsigned)mb->version, (unsigned)mb->flags, TCMU_MAILBOX_VERSION);
    say(error, error_size, text);
    munmap(map, size);
    close(fd);
    return NULL;
  }
  struct tcmu_ring* r = calloc(1, sizeof *r);
  if (r == NULL) {
    say(error, error_size, "out of memory");
    munmap(map, size);
    close(fd);
    return NULL;
  }
  r->fd = fd;
  r->map = map;
  r->size = size;
  r->mailbox = mb;
  r->cmdr = (uint8_t*)map + off;
  r->cmdr_size = ring;
  r->data_start = (size_t)off + ring;
  r->next = r->tail = __atomic_load_n(&mb->cmd_tail, __ATOMIC_ACQUIRE) % ring;
  return r;
}

void tcmu_ring_close(struct tcmu_ring* r) {
  if (r == NULL) return;
  munmap(r->map, r->size);
  close(r->fd);
  free(r);
}

int tcmu_ring_fd(const struct tcmu_ring* r) {
  return r->fd;
}

void tcmu_ring_acknowledge(struct tcmu_ring* r) {
  uint32_t events;
  if (read(r->fd, &events, sizeof events) < 0) return; /* a notice already taken */
}

void tcmu_ring_notify(struct tcmu_ring* r) {
  const uint32_t nothing = 0;
  if (write(r->fd, &nothing, sizeof nothing) < 0) return; /* the device is going away */
}

/* The entry at ring offset `at`, and its length and opcode; 0 when it does not fit. */
static struct tcmu_cmd_entry_hdr* entry_at(const struct tcmu_ring* r, uint32_t at, uint32_t* length,
                                           int* op) {
  if ((size_t)at + sizeof(struct tcmu_cmd_entry_hdr) > r->cmdr_size) return NULL;
  struct tcmu_cmd_entry_hdr* h = (struct tcmu_cmd_entry_hdr*)(r->cmdr + at);
  uint32_t len_op; /* the header's first field; the head was read with acquire order */
  memcpy(&len_op, r->cmdr + at, sizeof len_op);
  *length = tcmu_hdr_get_len(len_op);
  *op = tcmu_hdr_get_op(len_op);
  if (*length < sizeof *h || *length % TCMU_OP_ALIGN_SIZE != 0 ||
      (size_t)at + *length > r->cmdr_size)
    return NULL;
  return h;
}

/* Moves the tail over entries already read that need no completion (padding, task
 * management notices, opcodes this code does not know). */
static void skip_done(struct tcmu_ring* r) {
  while (r->tail != r->next) {
    uint32_t length;
    int op;
    if (entry_at(r, r->tail, &length, &op) == NULL || op == TCMU_OP_CMD) return;
    r->tail = (r->tail + length) % r->cmdr_size;
  }
  __atomic_store_n(&r->mailbox->cmd_tail, r->tail, __ATOMIC_RELEASE);
}

/* The CDB's length by its group code; the vendor groups' commands are 10 bytes here. */
static size_t cdb_length_of(uint8_t opcode) {
  switch (opcode >> 5) {
    case 0:
      return 6;
    case 4:
      return 16;
    case 5:
      return 12;
    default:
      return 10;
  }
}

static int read_command(const struct tcmu_ring* r, const uint8_t* at, uint32_t length,
                        struct tcmu_ring_request* out) {
  const struct tcmu_cmd_entry* e = (const struct tcmu_cmd_entry*)at;
  if (length < offsetof(struct tcmu_cmd_entry, req.iov)) return -1;
  const uint32_t count = e->req.iov_cnt;
  if (count > TCMU_RING_MAX_IOV ||
      offsetof(struct tcmu_cmd_entry, req.iov) + (size_t)count * sizeof(struct iovec) > length)
    return -1;
  out->kind = 1;
  out->id = e->hdr.cmd_id;
  out->iov_count = count;
  out->data_length = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t offset = (uint64_t)(uintptr_t)e->req.iov[i].iov_base;
    const uint64_t len = e->req.iov[i].iov_len;
    if (offset < r->data_start || offset > r->size || len > r->size - offset) return -1;
    out->iov_offset[i] = offset;
    out->iov_length[i] = len;
    out->data_length += len;
  }
  const uint64_t cdb = e->req.cdb_off;
  if (cdb >= r->size) return -1;
  memset(out->cdb, 0, sizeof out->cdb);
  const size_t room = r->size - cdb < sizeof out->cdb ? r->size - cdb : sizeof out->cdb;
  memcpy(out->cdb, r->map + cdb, room);
  out->cdb_length = cdb_length_of(out->cdb[0]);
  if (out->cdb_length > room) return -1;
  return 1;
}

int tcmu_ring_next(struct tcmu_ring* r, struct tcmu_ring_request* out) {
  const uint32_t head = __atomic_load_n(&r->mailbox->cmd_head, __ATOMIC_ACQUIRE) % r->cmdr_size;
  while (r->next != head) {
    uint32_t length;
    int op;
    struct tcmu_cmd_entry_hdr* h = entry_at(r, r->next, &length, &op);
    if (h == NULL) return -1;
    const uint8_t* at = r->cmdr + r->next;
    int result = 0;
    if (op == TCMU_OP_CMD) {
      result = read_command(r, at, length, out);
      if (result < 0) return -1;
    } else if (op == TCMU_OP_TMR) {
      const struct tcmu_tmr_entry* t = (const struct tcmu_tmr_entry*)at;
      if (length < sizeof *t) return -1;
      size_t count = t->cmd_cnt;
      if (sizeof *t + count * sizeof(uint16_t) > length) return -1;
      if (count > TCMU_RING_MAX_ABORTED) count = TCMU_RING_MAX_ABORTED;
      out->kind = 2;
      out->aborted_count = count;
      for (size_t i = 0; i < count; ++i) out->aborted[i] = t->cmd_ids[i];
      result = 1;
    } else if (op != TCMU_OP_PAD) {
      h->uflags |= TCMU_UFLAG_UNKNOWN_OP;
    }
    r->next = (r->next + length) % r->cmdr_size;
    skip_done(r);
    if (result == 1) return 1;
  }
  return 0;
}

size_t tcmu_ring_copy_out(const struct tcmu_ring* r, const struct tcmu_ring_request* q,
                          uint8_t* buffer, size_t size) {
  size_t done = 0;
  for (size_t i = 0; i < q->iov_count && done < size; ++i) {
    const size_t n = q->iov_length[i] < size - done ? (size_t)q->iov_length[i] : size - done;
    memcpy(buffer + done, r->map + q->iov_offset[i], n);
    done += n;
  }
  return done;
}

size_t tcmu_ring_copy_in(struct tcmu_ring* r, const struct tcmu_ring_request* q,
                         const uint8_t* data, size_t size) {
  size_t done = 0;
  for (size_t i = 0; i < q->iov_count && done < size; ++i) {
    const size_t n = q->iov_length[i] < size - done ? (size_t)q->iov_length[i] : size - done;
    memcpy(r->map + q->iov_offset[i], data + done, n);
    done += n;
  }
  return done;
}

void tcmu_ring_complete(struct tcmu_ring* r, uint16_t id, uint8_t status, const uint8_t* sense,
                        size_t sense_length) {
  skip_done(r);
  uint32_t length;
  int op;
  if (r->tail == r->next || entry_at(r, r->tail, &length, &op) == NULL || op != TCMU_OP_CMD ||
      length < sizeof(struct tcmu_cmd_entry))
    return; /* no open command: nothing to complete */
  /* The oldest open command's slot carries this completion; that command was copied out when
   * it was read, and its own completion takes the next slot. */
  struct tcmu_cmd_entry* e = (struct tcmu_cmd_entry*)(r->cmdr + r->tail);
  e->hdr.cmd_id = id;
  e->hdr.uflags = 0;
  memset(&e->rsp, 0, sizeof e->rsp);
  e->rsp.scsi_status = status;
  const size_t n = sense_length < TCMU_SENSE_BUFFERSIZE ? sense_length : TCMU_SENSE_BUFFERSIZE;
  if (sense != NULL && n > 0) memcpy(e->rsp.sense_buffer, sense, n);
  r->tail = (r->tail + length) % r->cmdr_size;
  skip_done(r);
  __atomic_store_n(&r->mailbox->cmd_tail, r->tail, __ATOMIC_RELEASE);
}

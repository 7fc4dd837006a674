/* Test-only control codes of the stand-in driver. They let tests inject access
 * events and read back what the service sent to the driver. Shared by the
 * stand-in driver (C, kernel mode) and the test tools (C++). */
#ifndef QUENVAR_STAND_IN_CONTROL_H
#define QUENVAR_STAND_IN_CONTROL_H

#include <stdint.h>

#define STANDIN_CODE(function) ((0x9669u << 16) | ((function) << 2))  /* buffered, any access */

/* Input: any number of whole 1068-byte access events, queued in order. */
#define IOCTL_STANDIN_INJECT_EVENTS STANDIN_CODE(0x800u)
/* Output: as many whole JournalEntry records as fit, oldest first; they are removed. */
#define IOCTL_STANDIN_READ_JOURNAL STANDIN_CODE(0x801u)
/* Input: u32, the byte count that IOCTL_REGISTER_SERVICE will return. */
#define IOCTL_STANDIN_SET_STATUS STANDIN_CODE(0x802u)
/* Output: one StandInState. */
#define IOCTL_STANDIN_QUERY_STATE STANDIN_CODE(0x803u)
/* Drops queued events and the journal. */
#define IOCTL_STANDIN_RESET STANDIN_CODE(0x804u)

/* What the journal records, in the order the driver received it. */
#define JOURNAL_REPLY 1u          /* IOCTL_REPLY; bytes = the input as received */
#define JOURNAL_ENABLE_GUARD 2u   /* IOCTL_ENABLE_GUARD */
#define JOURNAL_DISABLE_GUARD 3u  /* IOCTL_DISABLE_GUARD */
#define JOURNAL_REGISTER 4u       /* IOCTL_REGISTER_SERVICE; bytes[0..3] = status returned */

#pragma pack(push, 1)
typedef struct JournalEntry {
    uint32_t kind;
    uint32_t length; /* input length of the request */
    uint8_t bytes[8];
    uint32_t outLength;  /* output length of the request */
    uint32_t requestor;  /* process id of the caller (the current process during the call) */
} JournalEntry;

typedef struct StandInState {
    uint32_t registrations;
    uint32_t queuedEvents;
    uint32_t journalEntries;
    uint32_t waitingRequests;
    uint32_t deliveredEvents;
} StandInState;
#pragma pack(pop)

#endif

/* Virtual scales for the C test of the fleet's C library, started in the test's own process,
 * and a scratch directory: a C interface over the virtual scale library. */
#ifndef VUDADUV_TEST_SCALES_H
#define VUDADUV_TEST_SCALES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TEST_ADDRESS_SIZE 64

/* Starts count scales on loopback ports, each answering after reply_delay_ms, and writes
 * "127.0.0.1:PORT" of each into addresses. 0 on success. Stopped by TestScalesStop. */
int TestScalesStart(uint32_t count, uint32_t reply_delay_ms, char (*addresses)[TEST_ADDRESS_SIZE]);

/* Starts count scales on pseudo-terminals, each at the pace of a line at baud (0: no time), and
 * writes "serial:PATH" of each into addresses. 0 on success; 1 where the system has none
 * (Windows). Stopped, both sides closed as an adapter pulled out, by TestScalesStopLines or
 * TestScalesStop. */
int TestScalesStartLines(uint32_t count, uint32_t baud, char (*addresses)[TEST_ADDRESS_SIZE]);
void TestScalesStopLines(void);

/* An address on loopback where nothing listens: a scale that is off. 0 on success. */
int TestScalesDownAddress(char address[TEST_ADDRESS_SIZE]);

void TestScalesStop(void);

/* Runs run(argument) on a thread of its own; TestThreadJoin waits for it. One at a time. 0 on
 * success. */
int TestThreadStart(void (*run)(void*), void* argument);
void TestThreadJoin(void);

/* Waits a little (ms milliseconds): the C test has no portable sleep of its own. */
void TestSleep(uint32_t ms);

/* A fresh empty directory under the system's temporary directory, its path in UTF-8; removed by
 * TestScalesStop. */
int TestScalesDirectory(char* path, size_t size);

/* Whether a file is at path, a UTF-8 text (the wide file names on Windows, whatever the system's
 * code page). */
int TestFileThere(const char* path);

#ifdef __cplusplus
}
#endif

#endif /* VUDADUV_TEST_SCALES_H */

// Fetches one URL path from 127.0.0.1:PORT a number of times, reading the answer READ_SIZE
// bytes per read() as a client of that buffer size would, and prints the best rate in MB/s.
//   read_sizes PORT PATH READ_SIZE TIMES
#include <arpa/inet.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const int port = atoi(argv[1]);
  const long readSize = atol(argv[3]);
  const int times = atoi(argv[4]);
  char* buffer = malloc(readSize);
  double best = 0;
  for (int i = 0; i < times; ++i) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in to = {.sin_family = AF_INET, .sin_port = htons(port), .sin_addr.s_addr = htonl(0x7f000001)};
    if (connect(s, (struct sockaddr*)&to, sizeof to) != 0) return 1;
    char request[512];
    const int n = snprintf(request, sizeof request,
                           "GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nConnection: close\r\n\r\n", argv[2], port);
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    if (write(s, request, n) != n) return 1;
    long total = 0;
    ssize_t got;
    while ((got = read(s, buffer, readSize)) > 0) total += got;
    clock_gettime(CLOCK_MONOTONIC, &end);
    close(s);
    const double seconds = (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
    if (total / seconds / 1e6 > best) best = total / seconds / 1e6;
  }
  printf("%.0f\n", best);
  return 0;
}

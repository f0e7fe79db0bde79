/* The least an HTTP/1.0 client can do: one GET, the reply read into a 64 KiB buffer, the header
 * skipped and the body written to a file. No status check, no length check: a floor to compare
 * real clients with, not a client.
 *
 *   floor http://HOST:PORT/PATH OUTPUT
 */
#include <fcntl.h>
#include <netdb.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static int write_all(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) return -1;
    p += w;
    n -= (size_t)w;
  }
  return 0;
}

int main(int argc, char **argv) {
  char host[256], port[16] = "80", path[2048] = "/";
  if (argc != 3 || sscanf(argv[1], "http://%255[^:/]:%15[0-9]%2047s", host, port, path) < 2) {
    fprintf(stderr, "usage: floor http://HOST:PORT/PATH OUTPUT\n");
    return 2;
  }
  struct addrinfo hints = {.ai_family = AF_UNSPEC, .ai_socktype = SOCK_STREAM}, *ai;
  if (getaddrinfo(host, port, &hints, &ai) != 0) return 1;
  int s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
  if (s < 0 || connect(s, ai->ai_addr, ai->ai_addrlen) != 0) return perror("connect"), 1;
  static char buf[65536];
  int n = snprintf(buf, sizeof buf, "GET %s HTTP/1.0\r\nHost: %s\r\n\r\n", path, host);
  if (write_all(s, buf, (size_t)n) != 0) return perror("send"), 1;
  int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return perror(argv[2]), 1;
  static const char end[] = "\r\n\r\n";
  size_t matched = 0; /* bytes of the blank line seen so far; 4 once the header is over */
  ssize_t got;
  while ((got = read(s, buf, sizeof buf)) > 0) {
    char *p = buf;
    while (matched < 4 && p < buf + got) matched = *p++ == end[matched] ? matched + 1 : (p[-1] == '\r');
    if (write_all(out, p, (size_t)(buf + got - p)) != 0) return perror("write"), 1;
  }
  if (got < 0) return perror("read"), 1;
  return close(out) != 0;
}

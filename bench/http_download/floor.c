/* The least an HTTP/1.0 client can do: one GET, the reply read into a 64 KiB buffer, the header
 * skipped and the body written to a file. No status check, no length check: a floor to compare
 * real clients with, not a client. With "durable" it also makes the file durable while it
 * arrives: a second thread has the system put what was written so far on the disk every 8 MiB,
 * and the file is synced before it is closed. An https URL is read through OpenSSL straight from the
 * socket (the system's trust, the host name checked, the library's own cipher order): the least a
 * TLS client can do.
 *
 *   floor http[s]://HOST:PORT/PATH OUTPUT [durable]
 */
#include <fcntl.h>
#include <netdb.h>
#include <openssl/ssl.h>
#include <pthread.h>
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

/* As read: SSL_read gives a record a call; the buffer is filled with what the session holds. */
static ssize_t tls_read(SSL *ssl, char *p, size_t size) {
  size_t got = 0, n;
  while (got < size && (got == 0 || SSL_has_pending(ssl))) {
    if (SSL_read_ex(ssl, p + got, size - got, &n) != 1) return got > 0 ? (ssize_t)got : -1;
    got += n;
  }
  return (ssize_t)got;
}

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t wake = PTHREAD_COND_INITIALIZER;
static int out, requested, stopping;

static void *flush_behind(void *unused) {
  (void)unused;
  pthread_mutex_lock(&lock);
  for (;;) {
    while (!requested && !stopping) pthread_cond_wait(&wake, &lock);
    if (!requested) break;
    requested = 0;
    pthread_mutex_unlock(&lock);
    fdatasync(out);
    pthread_mutex_lock(&lock);
  }
  pthread_mutex_unlock(&lock);
  return NULL;
}

static void tell_flusher(int *flag) {
  pthread_mutex_lock(&lock);
  *flag = 1;
  pthread_cond_signal(&wake);
  pthread_mutex_unlock(&lock);
}

int main(int argc, char **argv) {
  char scheme[8], host[256], port[16] = "80", path[2048] = "/";
  int durable = argc == 4 && strcmp(argv[3], "durable") == 0;
  if (argc != 3 + durable ||
      sscanf(argv[1], "%7[htps]://%255[^:/]:%15[0-9]%2047s", scheme, host, port, path) < 3) {
    fprintf(stderr, "usage: floor http[s]://HOST:PORT/PATH OUTPUT [durable]\n");
    return 2;
  }
  int tls = strcmp(scheme, "https") == 0;
  struct addrinfo hints = {.ai_family = AF_UNSPEC, .ai_socktype = SOCK_STREAM}, *ai;
  if (getaddrinfo(host, port, &hints, &ai) != 0) return 1;
  int s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
  if (s < 0 || connect(s, ai->ai_addr, ai->ai_addrlen) != 0) return perror("connect"), 1;
  SSL *ssl = NULL;
  if (tls) {
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx || SSL_CTX_set_default_verify_paths(ctx) != 1 || !(ssl = SSL_new(ctx))) return 1;
    SSL_set_verify(ssl, SSL_VERIFY_PEER, NULL);
    /* Records read from the socket in big pieces, not a header and a body at a time. */
    SSL_set_default_read_buffer_len(ssl, 65536);
    SSL_set_read_ahead(ssl, 1);
    SSL_set1_host(ssl, host);
    SSL_set_tlsext_host_name(ssl, host);
    if (SSL_set_fd(ssl, s) != 1 || SSL_connect(ssl) != 1) return fprintf(stderr, "TLS failed\n"), 1;
  }
  static char buf[65536];
  int n = snprintf(buf, sizeof buf, "GET %s HTTP/1.0\r\nHost: %s\r\n\r\n", path, host);
  if (tls ? SSL_write(ssl, buf, n) != n : write_all(s, buf, (size_t)n) != 0) return perror("send"), 1;
  out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return perror(argv[2]), 1;
  pthread_t flusher;
  if (durable && pthread_create(&flusher, NULL, flush_behind, NULL) != 0) return 1;
  size_t unflushed = 0;
  static const char end[] = "\r\n\r\n";
  size_t matched = 0; /* bytes of the blank line seen so far; 4 once the header is over */
  ssize_t got;
  while ((got = tls ? tls_read(ssl, buf, sizeof buf) : read(s, buf, sizeof buf)) > 0) {
    char *p = buf;
    while (matched < 4 && p < buf + got) matched = *p++ == end[matched] ? matched + 1 : (p[-1] == '\r');
    if (write_all(out, p, (size_t)(buf + got - p)) != 0) return perror("write"), 1;
    unflushed += (size_t)(buf + got - p);
    if (durable && unflushed >= 8 << 20) {
      tell_flusher(&requested);
      unflushed = 0;
    }
  }
  if (got < 0 && !(tls && SSL_get_error(ssl, 0) == SSL_ERROR_ZERO_RETURN)) return perror("read"), 1;
  if (durable) {
    tell_flusher(&stopping);
    pthread_join(flusher, NULL);
    if (fsync(out) != 0) return perror("fsync"), 1;
  }
  return close(out) != 0;
}

# The programs in a container, installed from their Debian package:
#   docker build -t synergy .
#   docker run --rm -v "$PWD:/data" -w /data synergy synergy rank table.tsv ranked.tsv
# The first stage builds the package as the README's package route does; the
# second installs it (apt brings the libraries it depends on).
FROM debian:12 AS build
RUN apt-get update \
 && apt-get install -y --no-install-recommends cmake g++ make zlib1g-dev dpkg-dev file \
 && rm -rf /var/lib/apt/lists/*
COPY . /src
RUN cmake -S /src -B /build -DSYN_TESTS=OFF -DSYN_BENCH=OFF \
 && cmake --build /build -j"$(nproc)" \
 && cd /build && cpack -G DEB

FROM debian:12
COPY --from=build /build/synergy_*.deb /tmp/
RUN apt-get update \
 && apt-get install -y --no-install-recommends /tmp/synergy_*.deb \
 && rm -rf /var/lib/apt/lists/* /tmp/synergy_*.deb
CMD ["synergy", "--help"]

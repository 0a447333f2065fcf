# SPDX-License-Identifier: Apache-2.0
# Sourced by the benchmark scripts that speak HTTPS.
#   make_certs DIR IP   a throw-away authority (DIR/ca.pem) and a certificate for the address
#                       IP signed by it (DIR/server.pem, key DIR/server.key), valid two days
make_certs() {
  local dir=$1 ip=$2
  ( cd "$dir"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem \
      -days 2 -subj "/CN=bench authority" -addext "basicConstraints=critical,CA:TRUE" \
      -addext "keyUsage=critical,keyCertSign" 2>/dev/null
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr \
      -subj "/CN=$ip" 2>/dev/null
    printf 'subjectAltName=IP:%s\n' "$ip" >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile server.ext \
      -out server.pem 2>/dev/null )
}

# Where an installation under a prefix keeps the server's configuration:
# under /opt/<platform> by the platform's convention, in <prefix>/config
# (the PTP daemon's is in /opt/quorvane/config); under /usr in /etc;
# elsewhere in <prefix>/etc. The documents go where Debian wants them
# (/usr/share/doc/<package>) for /usr and /opt, else under the prefix. Used when installing and when packaging, so
# the files name the prefix they are installed under, not the one the build
# was configured with.
function(chronavel_install_paths prefix sbindir bindir)
  if(prefix STREQUAL "/usr")
    set(config "/etc/chronavel")
  elseif(prefix MATCHES "^/opt/[^/]+$")
    set(config "${prefix}/config/chronavel")
  else()
    set(config "${prefix}/etc/chronavel")
  endif()
  set(CHRONAVEL_CONFIG_FULL_DIR "${config}" PARENT_SCOPE)
  if(prefix STREQUAL "/usr" OR prefix MATCHES "^/opt/")
    set(CHRONAVEL_DOC_ROOT "/usr/share/doc" PARENT_SCOPE)
  else()
    set(CHRONAVEL_DOC_ROOT "${prefix}/share/doc" PARENT_SCOPE)
  endif()
  set(CHRONAVEL_CONFIG "${config}/Chronavel.xml" PARENT_SCOPE)
  set(CHRONAVEL_SBIN "${prefix}/${sbindir}" PARENT_SCOPE)
  set(CHRONAVEL_BIN "${prefix}/${bindir}" PARENT_SCOPE)
endfunction()

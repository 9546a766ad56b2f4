# The release's APT repository, made when the release is signed with an OpenPGP key, in dist/apt/:
#   pool/main/t/tarnwick/                   the release's .deb, and earlier releases' .deb files
#                                           from TARNWICK_APT_HISTORY, so that upgrades find them
#   dists/stable/main/binary-<arch>/Packages, Packages.gz
#   dists/stable/Release                    suite stable, codename tarnwick, dated SOURCE_DATE_EPOCH
#   dists/stable/InRelease, Release.gpg     Release clearsigned, and its detached signature
#   tarnwick-archive-keyring.asc            the certificate an administrator puts in
#                                           /etc/apt/keyrings/
#   tarnwick.sources                        an example source (deb822) that names it
# apt-ftparchive makes it from the pool alone, without a database, and takes its date from here:
# the unsigned files are the same bytes every time.
# Included by cpack.cmake, in the release's folder of its own (`staging`), with `deb` its package.
set(apt ${staging}/apt)
set(pool ${apt}/pool/main/t/tarnwick)
file(MAKE_DIRECTORY ${pool})
file(COPY ${deb} DESTINATION ${pool})
if(CPACK_TARNWICK_APT_HISTORY)
  file(GLOB earlier ${CPACK_TARNWICK_APT_HISTORY}/tarnwick_*.deb)
  file(COPY ${earlier} DESTINATION ${pool})
endif()
execute_process(COMMAND dpkg-deb -f ${deb} Architecture OUTPUT_VARIABLE arch
  OUTPUT_STRIP_TRAILING_WHITESPACE)
set(suite ${apt}/dists/stable)
set(binary dists/stable/main/binary-${arch})
file(MAKE_DIRECTORY ${apt}/${binary})
macro(tarnwick_apt_step)
  tarnwick_run("Could not make the APT repository" ${ARGN} WORKING_DIRECTORY ${apt})
endmacro()
tarnwick_apt_step(apt-ftparchive packages pool OUTPUT_FILE ${apt}/${binary}/Packages)
tarnwick_apt_step(gzip -9nkf ${binary}/Packages)
execute_process(COMMAND date -u -R -d @${CPACK_TARNWICK_EPOCH} OUTPUT_VARIABLE date
  OUTPUT_STRIP_TRAILING_WHITESPACE)
set(release_fields)
foreach(field "Origin=Tarnwick" "Label=Tarnwick" "Suite=stable" "Codename=tarnwick"
    "Architectures=${arch}" "Components=main" "Date=${date}"
    "Description=Tarnwick, from its release ${version}")
  list(APPEND release_fields -o "APT::FTPArchive::Release::${field}")
endforeach()
# Written beside the suite, not in it, so that it does not list itself.
tarnwick_apt_step(apt-ftparchive ${release_fields} release dists/stable OUTPUT_FILE ${apt}/Release)
file(RENAME ${apt}/Release ${suite}/Release)

tarnwick_openpgp_sign(${suite}/Release clearsigned ${suite}/InRelease)
tarnwick_openpgp_sign(${suite}/Release text ${suite}/Release.gpg)
# The certificate to hand out with it.
if(CPACK_TARNWICK_OPENPGP_KEY)
  tarnwick_apt_step(sqop extract-cert INPUT_FILE ${CPACK_TARNWICK_OPENPGP_KEY}
    OUTPUT_FILE ${apt}/tarnwick-archive-keyring.asc)
else()
  tarnwick_apt_step(gpg --batch --armor --export ${CPACK_TARNWICK_GPG_KEY}
    OUTPUT_FILE ${apt}/tarnwick-archive-keyring.asc)
endif()

file(WRITE ${apt}/tarnwick.sources
"# Tarnwick's APT repository, as a source of /etc/apt/sources.list.d/. Change URIs to where the
# repository is served (https://, or file: for a share), and put tarnwick-archive-keyring.asc in
# /etc/apt/keyrings/ first.
Types: deb
URIs: https://downloads.example.org/tarnwick/apt
Suites: stable
Components: main
Signed-By: /etc/apt/keyrings/tarnwick-archive-keyring.asc
")

# apt downloads as the user _apt: every file readable by all, whatever the umask.
file(CHMOD_RECURSE ${apt} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
  WORLD_EXECUTE)

# The release's APT repository, made when the release is signed with an OpenPGP key, in dist/apt/:
#   pool/main/t/tarnwick/                   the release's .deb, and the earlier releases' ones that
#                                           TARNWICK_APT_HISTORY's signed index lists, so that
#                                           upgrades find them
#   dists/stable/main/binary-<arch>/Packages, Packages.gz
#   dists/stable/Release                    suite stable, codename tarnwick, dated SOURCE_DATE_EPOCH
#   dists/stable/InRelease, Release.gpg     Release clearsigned, and its detached signature
#   tarnwick-archive-keyring.asc            the certificate an administrator puts in
#                                           /etc/apt/keyrings/
#   tarnwick.sources                        a source (deb822) that names it
#   tarnwick.pref                           preferences: it serves the package tarnwick alone
# apt-ftparchive makes it from the pool alone, without a database; it dates Release by the clock
# (SOURCE_DATE_EPOCH means nothing to it) unless given a date, which is given here: the unsigned
# files are the same bytes every time.
# Included by cpack.cmake, in the release's folder of its own (`staging`), with `deb` its package.
set(apt ${staging}/apt)
set(pool ${apt}/pool/main/t/tarnwick)
file(MAKE_DIRECTORY ${pool})
file(COPY ${deb} DESTINATION ${pool})
macro(tarnwick_apt_step)
  tarnwick_run("Could not make the APT repository" ${ARGN} WORKING_DIRECTORY ${apt})
endmacro()
# One field of a package's control, into `out`.
function(tarnwick_deb_field file field out)
  execute_process(COMMAND dpkg-deb -f ${file} ${field} OUTPUT_VARIABLE value
    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_VARIABLE error)
  tarnwick_stop_if_failed("Could not make the APT repository")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()
tarnwick_deb_field(${deb} Architecture arch)
# The certificate to hand out with it, which also checks the history's signature.
if(CPACK_TARNWICK_OPENPGP_KEY)
  tarnwick_apt_step(sqop extract-cert INPUT_FILE ${CPACK_TARNWICK_OPENPGP_KEY}
    OUTPUT_FILE ${apt}/tarnwick-archive-keyring.asc)
  set(verifier sqop)
else()
  tarnwick_apt_step(gpg --batch --armor --export ${CPACK_TARNWICK_GPG_KEY}
    OUTPUT_FILE ${apt}/tarnwick-archive-keyring.asc)
  set(verifier gpgv)
endif()

# The history is an earlier release's repository (its apt/ folder). A package is carried forward
# only when that repository's signed index lists it with its SHA-256, so that what this key signs
# into the pool is what the key signed before, whoever could write to the folder it was served
# from; the copy (what the repository serves) is checked, so that nothing but earlier tarnwick
# packages of this architecture stands beside the release's own, and none replaces it. `rows`
# gets the (package, version, file) of every package of the pool, which the index must list.
set(rows ${CPACK_PACKAGE_DIRECTORY}/apt-rows.txt)
execute_process(COMMAND ${CPACK_TARNWICK_PYTHON} ${CPACK_TARNWICK_SOURCE_DIR}/packaging/apt_history.py
    carry ${pool} ${arch} ${deb} ${verifier} ${apt}/tarnwick-archive-keyring.asc ${rows}
    ${CPACK_TARNWICK_APT_HISTORY}
  RESULT_VARIABLE failed ERROR_VARIABLE error)
tarnwick_stop_if_failed("Could not make the APT repository")

set(suite ${apt}/dists/stable)
set(binary dists/stable/main/binary-${arch})
file(MAKE_DIRECTORY ${apt}/${binary})
tarnwick_apt_step(apt-ftparchive packages pool OUTPUT_FILE ${apt}/${binary}/Packages)
# apt-ftparchive reads each package itself: it must have read what the pool was given.
tarnwick_apt_step(${CPACK_TARNWICK_PYTHON} ${CPACK_TARNWICK_SOURCE_DIR}/packaging/apt_history.py
  check ${apt}/${binary}/Packages ${rows})
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

# When the release was given its download address (the folder the MSIs will be in), the source
# names the repository beside them, as apt/.
if(CPACK_TARNWICK_DOWNLOAD_URL)
  string(REGEX REPLACE "/+$" "" uri ${CPACK_TARNWICK_DOWNLOAD_URL})
  string(APPEND uri /apt)
  set(where "URIs is the release's download address with apt/ appended: change it if the
# repository is served elsewhere (https://, or file: for a share).")
else()
  set(uri https://downloads.example.org/tarnwick/apt)
  set(where "Change URIs to where the repository is served (https://, or file: for a share).")
endif()
file(WRITE ${apt}/tarnwick.sources
"# Tarnwick's APT repository, as a source of /etc/apt/sources.list.d/: put
# tarnwick-archive-keyring.asc in /etc/apt/keyrings/ first.
# ${where}
Types: deb
URIs: ${uri}
Suites: stable
Components: main
Signed-By: /etc/apt/keyrings/tarnwick-archive-keyring.asc
")
# The repository's key could sign any package into it; these preferences let it serve tarnwick
# alone. Its Origin is what they match, which apt-get update refuses to see change unless told to.
# `*:any`, not `*`, so that the record is specific and covers every architecture: the first
# specific record that matches a version decides, before any general one is looked at. Among
# general records the manual says the highest counts, but apt 2.6.2 took the one read first, so a
# general -1 would hold or lose to an administrator's own `Package: *` pin by the files' names.
file(WRITE ${apt}/tarnwick.pref
"# Tarnwick's APT repository serves the package tarnwick alone: put this file in
# /etc/apt/preferences.d/ beside the source.
Package: tarnwick
Pin: release o=Tarnwick
Pin-Priority: 500

Package: *:any
Pin: release o=Tarnwick
Pin-Priority: -1
")

# apt downloads as the user _apt: every file readable by all, whatever the umask. The repository
# holds only files this build wrote (the history's are copies), and chmod -R follows no link it
# meets on its way.
tarnwick_apt_step(chmod -R u=rwX,go=rX ${apt})

#!/usr/bin/python3
# Applies a vyxctl display profile on the customer displays of one host and reports to
# Ansible what changed, from the JSON vyxctl writes: one object per port.

DOCUMENTATION = r"""
---
module: vyx_display_profile
short_description: Bring customer displays to a vyxctl profile
description:
  - Runs C(vyxctl apply --json) on every listed port of the host, in parallel.
  - A display that already matches the profile is left alone and reported unchanged.
  - In check mode runs C(vyxctl apply --check), which changes nothing, and reports
    C(changed) when a display differs from the profile (drift).
options:
  profile:
    description: Path of the profile (TOML) on the managed host.
    type: path
  content:
    description:
      - The profile's text, for a profile kept beside the playbook. It is written to a
        temporary file on the host for the run, so check mode leaves the host untouched.
      - Exactly one of I(profile) and I(content) is given.
    type: str
  ports:
    description: COM names or device paths of the displays on the host.
    type: list
    elements: str
    required: true
  probe:
    description: Find each display's current rate first instead of assuming one.
    type: bool
    default: true
  vyxctl:
    description: The vyxctl program to run.
    type: str
    default: vyxctl
"""

RETURN = r"""
ports:
  description: vyxctl's result for each port (port, changed, before, after, differences,
    status, error).
  type: list
  returned: always
"""

import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule

# vyxctl's exit status for a display whose values differ from the profile: in check mode
# that is the drift being reported, not a failure.
EXIT_MISMATCH = 6


def command_line(params, profile, check_mode):
    args = [params["vyxctl"]]
    for port in params["ports"]:
        args += ["--port", port]
    args += ["apply", "--json"]
    if check_mode:
        args.append("--check")
    if params["probe"]:
        args.append("--probe")
    args.append(profile)
    return args


def port_results(stdout):
    results = []
    for line in stdout.splitlines():
        line = line.strip()
        if line:
            results.append(json.loads(line))
    return results


def main():
    module = AnsibleModule(
        argument_spec=dict(
            profile=dict(type="path"),
            content=dict(type="str"),
            ports=dict(type="list", elements="str", required=True),
            probe=dict(type="bool", default=True),
            vyxctl=dict(type="str", default="vyxctl"),
        ),
        mutually_exclusive=[("profile", "content")],
        required_one_of=[("profile", "content")],
        supports_check_mode=True,
    )
    if not module.params["ports"]:
        module.fail_json(msg="no ports given")

    profile = module.params["profile"]
    scratch = None
    if profile is None:
        fd, scratch = tempfile.mkstemp(suffix=".toml", dir=module.tmpdir)
        with os.fdopen(fd, "w", encoding="utf-8") as file:
            file.write(module.params["content"])
        profile = scratch
    args = command_line(module.params, profile, module.check_mode)
    try:
        rc, stdout, stderr = module.run_command(args)
    finally:
        if scratch is not None:
            os.unlink(scratch)
    try:
        results = port_results(stdout)
    except ValueError as error:
        module.fail_json(msg="vyxctl wrote no JSON it could read: %s" % error, vyxctl_status=rc,
                         stdout=stdout, stderr=stderr, cmd=args)

    answered = {result.get("port") for result in results}
    missing = [port for port in module.params["ports"] if port not in answered]
    failed = [r for r in results
              if r.get("status", 1) != 0
              and not (module.check_mode and r.get("status") == EXIT_MISMATCH)]
    if module.check_mode:
        changed = any(r.get("differences") for r in results)
    else:
        changed = any(r.get("changed") for r in results)

    # Not "rc": Ansible fails any task whose result has a non-zero rc, and in check mode
    # vyxctl's 6 (the display differs) is the answer, not a failure.
    outcome = dict(changed=changed, ports=results, vyxctl_status=rc, stderr=stderr, cmd=args)
    if missing or failed or (rc != 0 and not results):
        reasons = ["%s: %s" % (r.get("port"), r.get("error") or "exit status %s" % r.get("status"))
                   for r in failed]
        reasons += ["%s: no result from vyxctl" % port for port in missing]
        if not reasons:
            reasons = [stderr.strip() or "vyxctl exited with status %d" % rc]
        module.fail_json(msg="; ".join(reasons), **outcome)
    module.exit_json(**outcome)


if __name__ == "__main__":
    main()

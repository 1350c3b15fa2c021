#!/usr/bin/env python3
"""The state Home Assistant shows for MQTT switches and binary sensors.

Reads a JSON list on standard input, one entry an entity: {"component":
"switch" or "binary_sensor", "config": its discovery message, "payload": the
last message on its state topic, "availability": the last one on its
availability topic; null for none}. Prints one line an entity: unavailable,
on, off or unknown, as Home Assistant decides it for an entity that starts
unknown. With an availability topic, it is unavailable unless the last
message there is payload_available (default online). Otherwise the value
template is rendered by Jinja2 with value and value_json, then compared with
state_on and state_off (for a switch; they default to payload_on and
payload_off, which default to ON and OFF) or with payload_on and payload_off
(a binary sensor). "None" makes it unknown; any other text leaves it as it
was.
"""
import json
import sys

import jinja2


def state(component, config, payload, availability):
    if "availability_topic" in config and availability != config.get("payload_available", "online"):
        return "unavailable"
    if payload is None:
        return "unknown"
    variables = {"value": payload}
    try:
        variables["value_json"] = json.loads(payload)
    except ValueError:
        pass
    template = config.get("value_template")
    rendered = jinja2.Template(template).render(variables) if template else payload
    payload_on = config.get("payload_on", "ON")
    payload_off = config.get("payload_off", "OFF")
    if component == "switch":
        payload_on = config.get("state_on") or payload_on
        payload_off = config.get("state_off") or payload_off
    if rendered == payload_on:
        return "on"
    if rendered == payload_off:
        return "off"
    return "unknown"


for entity in json.load(sys.stdin):
    print(state(entity["component"], entity["config"], entity["payload"], entity["availability"]))

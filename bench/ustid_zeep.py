#!/usr/bin/python3
"""The same VAT id check as TUStID.Check, made with the Python SOAP client zeep.

Usage: ustid_zeep.py ENDPOINT COUNT -- prints the seconds COUNT checks took (after one warm-up check).
"""
import pathlib
import sys
import time

from zeep import Client

BINDING = "{urn:ec.europa.eu:taxud:vies:services:checkVat}checkVatBinding"


def main():
    endpoint, count = sys.argv[1], int(sys.argv[2])
    client = Client(str(pathlib.Path(__file__).with_name("checkVatService.wsdl")))
    service = client.create_service(BINDING, endpoint)
    if not service.checkVat(countryCode="DE", vatNumber="123456789").valid:
        sys.exit("the stand-in did not answer valid")
    start = time.perf_counter()
    for _ in range(count):
        service.checkVat(countryCode="DE", vatNumber="123456789")
    print(time.perf_counter() - start)


if __name__ == "__main__":
    main()
